#pragma once

#include <cstdint>
#include <vector>

typedef struct SRC_STATE_tag SRC_STATE;

namespace koru {

// Converts a two-channel stream from one rate to another, pulling its input through a callback
// as it needs it. Construction allocates; read() does not (it may run on an audio thread).
class Varispeed {
public:
    static constexpr std::uint32_t kChannels = 2;
    static constexpr std::uint32_t kPullFrames = 1024;

    using Pull = void (*)(void* context, float* const* channels, std::uint32_t frames);

    // ratio = output rate / input rate. Throws std::runtime_error when no converter can be made.
    Varispeed(double ratio, Pull pull, void* context);
    ~Varispeed();
    Varispeed(const Varispeed&) = delete;
    Varispeed& operator=(const Varispeed&) = delete;

    double ratio() const { return mRatio; }
    // Writes `frames` converted frames into both channels.
    void read(float* const* channels, std::uint32_t frames) noexcept;

private:
    static long supply(void* self, float** data);

    double mRatio;
    Pull mPull;
    void* mContext;
    SRC_STATE* mState = nullptr;
    std::vector<float> mPlanar;      // kChannels × kPullFrames
    std::vector<float> mInterleaved; // kPullFrames stereo frames handed to the converter
    std::vector<float> mOutput;      // kPullFrames stereo frames out of it
};

} // namespace koru
