#include "FFmpegReader.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libavutil/opt.h>
#include <libswresample/swresample.h>
}

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <vector>

namespace koru::platform {

namespace {

std::string describe(int error) {
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(error, text, sizeof text);
    return text;
}

void quietenLibrary() {
    // Our own messages say what went wrong with a file; FFmpeg's console chatter about the same
    // files would only repeat them.
    static std::once_flag once;
    std::call_once(once, [] { av_log_set_level(AV_LOG_FATAL); });
}

// Whether a demuxer recognises the file by its first bytes, not merely by its name: a file
// that looks like MP4 but cannot be opened is a broken one, not a foreign one.
bool recognisedByContent(const std::string& path) {
    std::vector<unsigned char> head(4096 + AVPROBE_PADDING_SIZE, 0);
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) {
        return false;
    }
    const std::size_t got = std::fread(head.data(), 1, 4096, file);
    std::fclose(file);
    AVProbeData probe{};
    probe.buf = head.data();
    probe.buf_size = int(got);
    probe.filename = "";
    int score = 0;
    return av_probe_input_format3(&probe, 1, &score) != nullptr && score > AVPROBE_SCORE_EXTENSION;
}

} // namespace

FFmpegReader::FFmpegReader(Token) {}

std::unique_ptr<FFmpegReader> FFmpegReader::open(const std::string& path, Refusal& refusal,
                                                 std::string& detail) {
    quietenLibrary();
    auto reader = std::make_unique<FFmpegReader>(Token{});
    refusal = reader->openFile(path, detail);
    if (refusal != Refusal::None) {
        return nullptr;
    }
    return reader;
}

FFmpegReader::Refusal FFmpegReader::openFile(const std::string& path, std::string& detail) {
    int status = avformat_open_input(&mFormat, path.c_str(), nullptr, nullptr);
    if (status < 0) {
        detail = describe(status);
        return recognisedByContent(path) ? Refusal::Damaged : Refusal::NotOpened;
    }
    status = avformat_find_stream_info(mFormat, nullptr);
    if (status < 0) {
        detail = describe(status);
        return Refusal::Damaged;
    }
    const AVCodec* decoder = nullptr;
    mStream = av_find_best_stream(mFormat, AVMEDIA_TYPE_AUDIO, -1, -1, &decoder, 0);
    if (mStream == AVERROR_STREAM_NOT_FOUND) {
        return Refusal::NoAudio;
    }
    if (mStream < 0 || decoder == nullptr) {
        const AVStream* audio = nullptr;
        for (unsigned i = 0; i < mFormat->nb_streams; ++i) {
            if (mFormat->streams[i]->codecpar->codec_type == AVMEDIA_TYPE_AUDIO) {
                audio = mFormat->streams[i];
                break;
            }
        }
        detail = audio ? avcodec_get_name(audio->codecpar->codec_id) : "unknown";
        return Refusal::NoDecoder;
    }
    const AVStream* stream = mFormat->streams[mStream];
    mCodec = avcodec_alloc_context3(decoder);
    if (mCodec == nullptr || avcodec_parameters_to_context(mCodec, stream->codecpar) < 0 ||
        avcodec_open2(mCodec, decoder, nullptr) < 0) {
        detail = decoder->name;
        return Refusal::NoDecoder;
    }
    mChannels = mCodec->ch_layout.nb_channels;
    mRate = double(mCodec->sample_rate);
    if (mChannels <= 0 || mCodec->sample_rate <= 0) {
        detail = "no channels or no sample rate";
        return Refusal::BrokenStream;
    }
    mPacket = av_packet_alloc();
    mFrame = av_frame_alloc();
    if (mPacket == nullptr || mFrame == nullptr) {
        detail = "out of memory";
        return Refusal::BrokenStream;
    }
    mStartTime = stream->start_time != AV_NOPTS_VALUE ? stream->start_time : 0;
    const AVRational perFrame{1, mCodec->sample_rate};
    if (stream->duration != AV_NOPTS_VALUE && stream->duration > 0) {
        mFrames = av_rescale_q(stream->duration, stream->time_base, perFrame);
        mLengthFromContainer = true;
    } else if (mFormat->duration != AV_NOPTS_VALUE && mFormat->duration > 0) {
        // Estimated from the bit rate: a guide for the display, not a limit.
        mFrames = av_rescale(mFormat->duration, mCodec->sample_rate, AV_TIME_BASE);
    } else {
        // A bare stream without a length: count it once.
        mFrames = countFrames();
        if (!seek(0)) {
            detail = "it cannot be rewound";
            return Refusal::BrokenStream;
        }
    }
    return Refusal::None;
}

FFmpegReader::~FFmpegReader() {
    swr_free(&mConverter);
    av_frame_free(&mFrame);
    av_packet_free(&mPacket);
    avcodec_free_context(&mCodec);
    avformat_close_input(&mFormat);
}

std::int64_t FFmpegReader::countFrames() {
    std::int64_t total = 0;
    while (decodeMore()) {
        total += std::int64_t(mPending.size() - mPendingAt) / mChannels;
        mPending.clear();
        mPendingAt = 0;
    }
    return total;
}

bool FFmpegReader::feedDecoder() {
    while (true) {
        const int status = av_read_frame(mFormat, mPacket);
        if (status < 0) {
            // The end of the file, or as much of it as can be read: drain the decoder.
            avcodec_send_packet(mCodec, nullptr);
            mInputDone = true;
            return true;
        }
        if (mPacket->stream_index != mStream) {
            av_packet_unref(mPacket);
            continue;
        }
        const int sent = avcodec_send_packet(mCodec, mPacket);
        av_packet_unref(mPacket);
        // A damaged packet costs its own few milliseconds, not the rest of the file.
        if (sent == 0 || sent == AVERROR_INVALIDDATA) {
            return true;
        }
        if (sent != AVERROR(EAGAIN)) {
            mFailed = true;
            return false;
        }
        return true;
    }
}

bool FFmpegReader::convert(const AVFrame& frame) {
    if (mConverter == nullptr) {
        // The layout goes in unchanged; this FFmpeg's signature wants it writable.
        AVChannelLayout layout{};
        if (av_channel_layout_copy(&layout, &frame.ch_layout) < 0) {
            return false;
        }
        const int made =
            swr_alloc_set_opts2(&mConverter, &layout, AV_SAMPLE_FMT_FLT, frame.sample_rate, &layout,
                                AVSampleFormat(frame.format), frame.sample_rate, 0, nullptr);
        av_channel_layout_uninit(&layout);
        if (made < 0 || swr_init(mConverter) < 0) {
            return false;
        }
    }
    std::int64_t skip = 0;
    if (mSeekTarget >= 0) {
        const std::int64_t stamp = frame.best_effort_timestamp;
        if (stamp != AV_NOPTS_VALUE) {
            const AVStream* stream = mFormat->streams[mStream];
            const std::int64_t first =
                av_rescale_q(stamp - mStartTime, stream->time_base, AVRational{1, int(mRate)});
            skip = std::max<std::int64_t>(0, mSeekTarget - first);
        }
        if (skip >= frame.nb_samples) {
            return true; // wholly before the target
        }
        mSeekTarget = -1;
    }
    const std::size_t at = mPending.size();
    mPending.resize(at + std::size_t(frame.nb_samples) * std::size_t(mChannels));
    auto* out = reinterpret_cast<std::uint8_t*>(mPending.data() + at);
    const int made =
        swr_convert(mConverter, &out, frame.nb_samples,
                    const_cast<const std::uint8_t**>(frame.extended_data), frame.nb_samples);
    if (made < 0) {
        mPending.resize(at);
        return false;
    }
    mPending.resize(at + std::size_t(made) * std::size_t(mChannels));
    if (skip > 0) {
        mPending.erase(mPending.begin() + std::ptrdiff_t(at),
                       mPending.begin() + std::ptrdiff_t(at + std::size_t(skip) * mChannels));
    }
    return true;
}

bool FFmpegReader::decodeMore() {
    if (mFailed) {
        return false;
    }
    while (true) {
        const int status = avcodec_receive_frame(mCodec, mFrame);
        if (status == 0) {
            const std::size_t before = mPending.size();
            const bool converted = convert(*mFrame);
            av_frame_unref(mFrame);
            if (!converted) {
                mFailed = true;
                return false;
            }
            if (mPending.size() > before) {
                return true;
            }
            continue;
        }
        if (status == AVERROR_EOF) {
            return false;
        }
        if (status != AVERROR(EAGAIN)) {
            mFailed = true;
            return false;
        }
        if (mInputDone || !feedDecoder()) {
            return false;
        }
    }
}

std::int64_t FFmpegReader::read(float* interleaved, std::int64_t count) {
    if (mLengthFromContainer) {
        count = std::clamp<std::int64_t>(count, 0, mFrames - mPosition);
    }
    std::int64_t done = 0;
    while (done < count) {
        if (mPendingAt == mPending.size()) {
            mPending.clear();
            mPendingAt = 0;
            if (!decodeMore()) {
                break;
            }
        }
        const std::int64_t ready = std::int64_t(mPending.size() - mPendingAt) / mChannels;
        const std::int64_t take = std::min(ready, count - done);
        std::memcpy(interleaved + done * mChannels, mPending.data() + mPendingAt,
                    std::size_t(take * mChannels) * sizeof(float));
        mPendingAt += std::size_t(take * mChannels);
        done += take;
    }
    if (done == 0 && mFailed) {
        return -1;
    }
    mPosition += done;
    return done;
}

bool FFmpegReader::seek(std::int64_t frame) {
    const AVStream* stream = mFormat->streams[mStream];
    const std::int64_t stamp =
        av_rescale_q(frame, AVRational{1, int(mRate)}, stream->time_base) + mStartTime;
    if (av_seek_frame(mFormat, mStream, stamp, AVSEEK_FLAG_BACKWARD) < 0) {
        // A bare stream without an index can still go back to its first byte.
        if (frame != 0 || av_seek_frame(mFormat, mStream, 0, AVSEEK_FLAG_BYTE) < 0) {
            return false;
        }
    }
    avcodec_flush_buffers(mCodec);
    mPending.clear();
    mPendingAt = 0;
    mInputDone = false;
    mFailed = false;
    mSeekTarget = frame;
    mPosition = frame;
    return true;
}

} // namespace koru::platform
