#include "platform/audiofile/FFmpegFileSink.h"

#include "platform/fourcc/FourCC.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
}

#include <algorithm>
#include <mutex>
#include <stdexcept>
#include <vector>

namespace koru::platform {

namespace {

// The encoder's statistics at close would reach the console on every recording; our own
// messages report failures.
void quietenEncoders() {
    static std::once_flag once;
    std::call_once(once, [] { av_log_set_level(AV_LOG_FATAL); });
}

class FFmpegFileSink final : public AudioFileSink {
public:
    ~FFmpegFileSink() override { release(); }

    void open(const std::string& path, std::uint32_t formatID, std::uint32_t channels,
              double sampleRate, std::uint32_t bitRate) {
        const bool aac = formatID == fourCC("aac ");
        const AVCodec* codec = avcodec_find_encoder(aac ? AV_CODEC_ID_AAC : AV_CODEC_ID_ALAC);
        if (!codec)
            throw std::runtime_error("no encoder for this format");
        if (avformat_alloc_output_context2(&mFormat, nullptr, "ipod", path.c_str()) < 0)
            throw std::runtime_error("no M4A muxer");
        mStream = avformat_new_stream(mFormat, nullptr);
        mCodec = avcodec_alloc_context3(codec);
        if (!mStream || !mCodec)
            throw std::runtime_error("out of memory");
        mCodec->sample_rate = int(sampleRate + 0.5);
        av_channel_layout_default(&mCodec->ch_layout, int(channels));
        // AAC takes planar float; ALAC planar 32-bit integers, so nothing is lost on the way.
        mCodec->sample_fmt = aac ? AV_SAMPLE_FMT_FLTP : AV_SAMPLE_FMT_S32P;
        if (aac)
            mCodec->bit_rate = bitRate ? bitRate : 128000;
        mCodec->time_base = AVRational{1, mCodec->sample_rate};
        if (mFormat->oformat->flags & AVFMT_GLOBALHEADER)
            mCodec->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
        if (avcodec_open2(mCodec, codec, nullptr) < 0)
            throw std::runtime_error("the encoder refuses these settings");
        avcodec_parameters_from_context(mStream->codecpar, mCodec);
        mStream->time_base = mCodec->time_base;
        if (avio_open(&mFormat->pb, path.c_str(), AVIO_FLAG_WRITE) < 0)
            throw std::runtime_error("cannot create the file");
        if (avformat_write_header(mFormat, nullptr) < 0)
            throw std::runtime_error("cannot write the file header");
        mHeaderWritten = true;
        mFrameSize = mCodec->frame_size > 0 ? std::uint32_t(mCodec->frame_size) : 4096;
        mChannels = channels;
        mIsFloat = aac;
        mFrame = av_frame_alloc();
        mPacket = av_packet_alloc();
        if (!mFrame || !mPacket)
            throw std::runtime_error("out of memory");
        mPending.reserve(std::size_t(mFrameSize) * channels);
    }

    bool write(const float* interleaved, std::uint64_t frames) override {
        if (mFailed || !mFormat)
            return false;
        for (std::uint64_t i = 0; i < frames; ++i) {
            mPending.insert(mPending.end(), interleaved + i * mChannels,
                            interleaved + (i + 1) * mChannels);
            if (mPending.size() == std::size_t(mFrameSize) * mChannels && !encodePending())
                return false;
        }
        return true;
    }

    bool finish() override {
        if (!mFormat)
            return false;
        bool ok = !mFailed;
        if (ok && !mPending.empty())
            ok = encodePending();
        if (ok)
            ok = send(nullptr);
        if (mHeaderWritten && av_write_trailer(mFormat) < 0)
            ok = false;
        release();
        return ok;
    }

private:
    bool encodePending() {
        const int count = int(mPending.size() / mChannels);
        av_frame_unref(mFrame);
        mFrame->nb_samples = count;
        mFrame->format = mCodec->sample_fmt;
        mFrame->sample_rate = mCodec->sample_rate;
        av_channel_layout_copy(&mFrame->ch_layout, &mCodec->ch_layout);
        if (av_frame_get_buffer(mFrame, 0) < 0)
            return fail();
        for (std::uint32_t c = 0; c < mChannels; ++c) {
            if (mIsFloat) {
                auto* out = reinterpret_cast<float*>(mFrame->extended_data[c]);
                for (int i = 0; i < count; ++i)
                    out[i] = mPending[std::size_t(i) * mChannels + c];
            } else {
                auto* out = reinterpret_cast<std::int32_t*>(mFrame->extended_data[c]);
                for (int i = 0; i < count; ++i) {
                    // Clip at full scale, never wrap.
                    const double v = std::clamp(double(mPending[std::size_t(i) * mChannels + c]),
                                                -1.0, 2147483647.0 / 2147483648.0);
                    out[i] = std::int32_t(v * 2147483648.0);
                }
            }
        }
        mFrame->pts = mPts;
        mPts += count;
        mPending.clear();
        return send(mFrame);
    }

    bool send(AVFrame* frame) {
        if (avcodec_send_frame(mCodec, frame) < 0)
            return fail();
        for (;;) {
            const int status = avcodec_receive_packet(mCodec, mPacket);
            if (status == AVERROR(EAGAIN) || status == AVERROR_EOF)
                return true;
            if (status < 0)
                return fail();
            av_packet_rescale_ts(mPacket, mCodec->time_base, mStream->time_base);
            mPacket->stream_index = mStream->index;
            if (av_interleaved_write_frame(mFormat, mPacket) < 0)
                return fail();
        }
    }

    bool fail() {
        mFailed = true;
        return false;
    }

    void release() {
        av_frame_free(&mFrame);
        av_packet_free(&mPacket);
        avcodec_free_context(&mCodec);
        if (mFormat) {
            if (mFormat->pb)
                avio_closep(&mFormat->pb);
            avformat_free_context(mFormat);
            mFormat = nullptr;
        }
    }

    AVFormatContext* mFormat = nullptr;
    AVStream* mStream = nullptr;
    AVCodecContext* mCodec = nullptr;
    AVFrame* mFrame = nullptr;
    AVPacket* mPacket = nullptr;
    std::vector<float> mPending; // interleaved, up to one encoder frame
    std::uint32_t mFrameSize = 1024;
    std::uint32_t mChannels = 1;
    std::int64_t mPts = 0;
    bool mIsFloat = true;
    bool mHeaderWritten = false;
    bool mFailed = false;
};

} // namespace

std::unique_ptr<AudioFileSink> openCompressedFileSink(const std::string& path,
                                                      std::uint32_t formatID,
                                                      std::uint32_t channels, double sampleRate,
                                                      std::uint32_t bitRate) {
    if ((formatID != fourCC("aac ") && formatID != fourCC("alac")) || channels == 0 || channels > 8)
        throw std::runtime_error("unsupported compressed format");
    quietenEncoders();
    auto sink = std::make_unique<FFmpegFileSink>();
    sink->open(path, formatID, channels, sampleRate, bitRate);
    return sink;
}

} // namespace koru::platform
