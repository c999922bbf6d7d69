#include "Varispeed.h"

#include <samplerate.h>

#include <algorithm>
#include <stdexcept>
#include <string>

namespace koru {

Varispeed::Varispeed(double ratio, Pull pull, void* context)
    : mRatio(ratio), mPull(pull), mContext(context), mPlanar(kChannels * kPullFrames, 0.0f),
      mInterleaved(kChannels * kPullFrames, 0.0f), mOutput(kChannels * kPullFrames, 0.0f) {
    int error = 0;
    mState =
        src_callback_new(&Varispeed::supply, SRC_SINC_MEDIUM_QUALITY, int(kChannels), &error, this);
    if (mState == nullptr) {
        throw std::runtime_error(std::string("rate converter: ") + src_strerror(error));
    }
}

Varispeed::~Varispeed() {
    src_delete(mState);
}

long Varispeed::supply(void* self, float** data) {
    auto* varispeed = static_cast<Varispeed*>(self);
    float* channels[kChannels] = {varispeed->mPlanar.data(),
                                  varispeed->mPlanar.data() + kPullFrames};
    varispeed->mPull(varispeed->mContext, channels, kPullFrames);
    for (std::uint32_t i = 0; i < kPullFrames; ++i) {
        varispeed->mInterleaved[kChannels * i] = channels[0][i];
        varispeed->mInterleaved[kChannels * i + 1] = channels[1][i];
    }
    *data = varispeed->mInterleaved.data();
    return long(kPullFrames);
}

void Varispeed::read(float* const* channels, std::uint32_t frames) noexcept {
    std::uint32_t done = 0;
    while (done < frames) {
        const std::uint32_t want = std::min(frames - done, kPullFrames);
        const long got = src_callback_read(mState, mRatio, long(want), mOutput.data());
        if (got <= 0) {
            std::fill(channels[0] + done, channels[0] + frames, 0.0f);
            std::fill(channels[1] + done, channels[1] + frames, 0.0f);
            return;
        }
        for (long i = 0; i < got; ++i) {
            channels[0][done + i] = mOutput[kChannels * i];
            channels[1][done + i] = mOutput[kChannels * i + 1];
        }
        done += std::uint32_t(got);
    }
}

} // namespace koru
