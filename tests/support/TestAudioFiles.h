#pragma once

// Audio files for tests, written with libsndfile and FFmpeg's encoders (header-only: every test
// program links both through the platform library).

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
}
#include <sndfile.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <filesystem>
#include <numbers>
#include <string>
#include <vector>

namespace koru::test {

// Interleaved frames; channel c of frame i is frames[i * channels + c].
struct TestSignal {
    int channels = 1;
    int rate = 48000;
    std::vector<float> frames;

    std::int64_t length() const { return std::int64_t(frames.size()) / channels; }
    float at(std::int64_t frame, int channel) const {
        return frames[std::size_t(frame * channels + channel)];
    }
};

// A sine per channel (frequencies[c], amplitude amplitudes[c]); values rounded to 16 bits so
// that 16-bit files hold them exactly.
inline TestSignal sines(int rate, std::int64_t length, const std::vector<double>& frequencies,
                        const std::vector<double>& amplitudes) {
    TestSignal signal{int(frequencies.size()), rate, {}};
    signal.frames.resize(std::size_t(length) * frequencies.size());
    for (std::int64_t i = 0; i < length; ++i) {
        for (std::size_t c = 0; c < frequencies.size(); ++c) {
            const double x = amplitudes[c] *
                             std::sin(2.0 * std::numbers::pi * frequencies[c] * double(i) / rate);
            signal.frames[std::size_t(i) * frequencies.size() + c] =
                float(std::round(x * 32768.0) / 32768.0);
        }
    }
    return signal;
}

// Channel c of frame i is (c + 1) × 1024 + (i mod 1024), in 16-bit steps: every frame of every
// channel tells where it came from, exactly, in a 16-bit file.
inline TestSignal ramps(int rate, std::int64_t length, int channels) {
    TestSignal signal{channels, rate, {}};
    signal.frames.resize(std::size_t(length) * std::size_t(channels));
    for (std::int64_t i = 0; i < length; ++i) {
        for (int c = 0; c < channels; ++c) {
            signal.frames[std::size_t(i * channels + c)] =
                float((c + 1) * 1024 + (i % 1024)) / 32768.0f;
        }
    }
    return signal;
}

// The value ramps() put at (frame, channel).
inline float rampValue(std::int64_t frame, int channel) {
    return float((channel + 1) * 1024 + (frame % 1024)) / 32768.0f;
}

inline bool writeSoundFile(const std::string& path, int format, const TestSignal& signal) {
    SF_INFO info{};
    info.samplerate = signal.rate;
    info.channels = signal.channels;
    info.format = format;
    SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
    if (file == nullptr) {
        return false;
    }
    const sf_count_t written = sf_writef_float(file, signal.frames.data(), signal.length());
    sf_close(file);
    return written == signal.length();
}

// ALAC ("alac") or AAC ("aac") in an M4A file. `streamable` puts the index first, as files
// prepared for streaming have it; otherwise it comes last.
inline bool writeM4A(const std::string& path, const char* encoderName, const TestSignal& signal,
                     bool streamable = false) {
    const AVCodec* codec = avcodec_find_encoder_by_name(encoderName);
    AVFormatContext* format = nullptr;
    if (codec == nullptr ||
        avformat_alloc_output_context2(&format, nullptr, "ipod", path.c_str()) < 0) {
        return false;
    }
    AVCodecContext* context = avcodec_alloc_context3(codec);
    av_log_set_level(AV_LOG_ERROR);
    context->sample_rate = signal.rate;
    av_channel_layout_default(&context->ch_layout, signal.channels);
    // The first layout the encoder takes for that many channels (ALAC has no 2.1, say).
    for (const AVChannelLayout* l = codec->ch_layouts; l && l->nb_channels != 0; ++l) {
        if (l->nb_channels == signal.channels) {
            av_channel_layout_copy(&context->ch_layout, l);
            break;
        }
    }
    context->sample_fmt = codec->sample_fmts[0];
    for (const AVSampleFormat* f = codec->sample_fmts; *f != AV_SAMPLE_FMT_NONE; ++f) {
        if (*f == AV_SAMPLE_FMT_S16P) {
            context->sample_fmt = *f; // 16-bit ALAC holds our 16-bit signals exactly
        }
    }
    context->time_base = AVRational{1, signal.rate};
    context->bit_rate = 128000 * signal.channels;
    if (format->oformat->flags & AVFMT_GLOBALHEADER) {
        context->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    }
    AVStream* stream = avformat_new_stream(format, nullptr);
    bool ok = avcodec_open2(context, codec, nullptr) >= 0 &&
              avcodec_parameters_from_context(stream->codecpar, context) >= 0;
    stream->time_base = context->time_base;
    AVDictionary* options = nullptr;
    if (streamable) {
        av_dict_set(&options, "movflags", "faststart", 0);
    }
    ok = ok && avio_open(&format->pb, path.c_str(), AVIO_FLAG_WRITE) >= 0 &&
         avformat_write_header(format, &options) >= 0;
    av_dict_free(&options);

    AVPacket* packet = av_packet_alloc();
    const auto drain = [&] {
        while (avcodec_receive_packet(context, packet) == 0) {
            av_packet_rescale_ts(packet, context->time_base, stream->time_base);
            packet->stream_index = stream->index;
            ok = ok && av_interleaved_write_frame(format, packet) >= 0;
        }
    };
    const int frameSize = context->frame_size > 0 ? context->frame_size : 1024;
    for (std::int64_t at = 0; ok && at < signal.length(); at += frameSize) {
        const int count = int(std::min<std::int64_t>(frameSize, signal.length() - at));
        AVFrame* frame = av_frame_alloc();
        frame->nb_samples = count;
        frame->format = context->sample_fmt;
        frame->sample_rate = signal.rate;
        av_channel_layout_copy(&frame->ch_layout, &context->ch_layout);
        ok = av_frame_get_buffer(frame, 0) >= 0;
        for (int c = 0; ok && c < signal.channels; ++c) {
            for (int i = 0; i < count; ++i) {
                const float x = signal.at(at + i, c);
                switch (context->sample_fmt) {
                case AV_SAMPLE_FMT_S16P:
                    reinterpret_cast<std::int16_t*>(frame->data[c])[i] =
                        std::int16_t(std::clamp(std::lround(double(x) * 32768.0), -32768L, 32767L));
                    break;
                case AV_SAMPLE_FMT_S32P:
                    reinterpret_cast<std::int32_t*>(frame->data[c])[i] =
                        std::int32_t(std::lround(double(x) * 32768.0)) * 65536;
                    break;
                default:
                    reinterpret_cast<float*>(frame->data[c])[i] = x;
                    break;
                }
            }
        }
        frame->pts = at;
        ok = ok && avcodec_send_frame(context, frame) >= 0;
        av_frame_free(&frame);
        drain();
    }
    avcodec_send_frame(context, nullptr);
    drain();
    ok = ok && av_write_trailer(format) >= 0;
    av_packet_free(&packet);
    avcodec_free_context(&context);
    avio_closep(&format->pb);
    avformat_free_context(format);
    return ok;
}

// Cuts the file down to `keep` of its bytes (0 … 1).
inline void cutFile(const std::string& path, double keep) {
    const auto size = std::filesystem::file_size(path);
    std::filesystem::resize_file(path, std::uintmax_t(double(size) * keep));
}

} // namespace koru::test
