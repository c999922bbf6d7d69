#include "platform/audiofile/ResamplingFileSink.h"

#include <samplerate.h>

#include <algorithm>
#include <cmath>
#include <stdexcept>
#include <string>
#include <vector>

namespace koru::platform {

namespace {

constexpr long kInputChunkFrames = 4096;

class ResamplingFileSink final : public AudioFileSink {
public:
    ResamplingFileSink(std::unique_ptr<AudioFileSink> inner, std::uint32_t channels,
                       double inputRate, double outputRate)
        : mInner(std::move(inner)), mChannels(int(channels)), mRatio(outputRate / inputRate) {
        int error = 0;
        mState = src_new(SRC_SINC_BEST_QUALITY, mChannels, &error);
        if (!mState)
            throw std::runtime_error(std::string("rate converter: ") + src_strerror(error));
        // Room for one input chunk's output with margin for the converter's rounding.
        mOutputFrames = long(std::ceil(double(kInputChunkFrames) * mRatio)) + 64;
        mOutput.assign(std::size_t(mOutputFrames) * std::size_t(mChannels), 0.0f);
        mSilence.assign(std::size_t(kInputChunkFrames) * std::size_t(mChannels), 0.0f);
    }
    ~ResamplingFileSink() override { src_delete(mState); }

    bool write(const float* interleaved, std::uint64_t frames) override {
        if (mFailed)
            return false;
        std::uint64_t done = 0;
        while (done < frames) {
            const long take = long(std::min<std::uint64_t>(frames - done, kInputChunkFrames));
            SRC_DATA data{};
            data.data_in = interleaved + done * std::uint64_t(mChannels);
            data.input_frames = take;
            data.data_out = mOutput.data();
            data.output_frames = mOutputFrames;
            data.src_ratio = mRatio;
            if (!process(data))
                return false;
            // The converter always takes input while it has room to put output.
            if (data.input_frames_used == 0 && data.output_frames_gen == 0)
                return fail();
            done += std::uint64_t(data.input_frames_used);
            mInputFrames += std::uint64_t(data.input_frames_used);
        }
        return true;
    }

    bool finish() override {
        bool ok = !mFailed;
        // The converter holds back about half its filter's length. Silence pushes that out, up
        // to exactly the output the input was worth, so the file keeps its length in seconds.
        const auto target = std::uint64_t(std::llround(double(mInputFrames) * mRatio));
        for (int round = 0; ok && mOutputWritten < target; ++round) {
            if (round > 64) {
                ok = fail();
                break;
            }
            SRC_DATA data{};
            data.data_in = mSilence.data();
            data.input_frames = kInputChunkFrames;
            data.data_out = mOutput.data();
            data.output_frames = mOutputFrames;
            data.src_ratio = mRatio;
            ok = process(data, target - mOutputWritten);
        }
        const bool finished = mInner->finish();
        return ok && finished;
    }

private:
    // Passes on at most `limit` of the frames made.
    bool process(SRC_DATA& data, std::uint64_t limit = ~std::uint64_t(0)) {
        if (src_process(mState, &data) != 0)
            return fail();
        const auto made = std::min<std::uint64_t>(std::uint64_t(data.output_frames_gen), limit);
        if (made > 0 && !mInner->write(mOutput.data(), made))
            return fail();
        mOutputWritten += made;
        return true;
    }
    bool fail() {
        mFailed = true;
        return false;
    }

    std::unique_ptr<AudioFileSink> mInner;
    int mChannels;
    double mRatio;
    SRC_STATE* mState = nullptr;
    long mOutputFrames = 0;
    std::vector<float> mOutput;
    std::vector<float> mSilence;
    std::uint64_t mInputFrames = 0;   // taken by the converter
    std::uint64_t mOutputWritten = 0; // passed on to the inner sink
    bool mFailed = false;
};

} // namespace

std::unique_ptr<AudioFileSink> makeResamplingSink(std::unique_ptr<AudioFileSink> inner,
                                                  std::uint32_t channels, double inputRate,
                                                  double outputRate) {
    if (!inner || channels == 0 || !(inputRate > 0.0) || !(outputRate > 0.0) ||
        !src_is_valid_ratio(outputRate / inputRate))
        throw std::runtime_error("rate conversion not possible");
    return std::make_unique<ResamplingFileSink>(std::move(inner), channels, inputRate, outputRate);
}

} // namespace koru::platform
