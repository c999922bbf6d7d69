#pragma once

#include <cstdint>
#include <vector>

typedef struct SRC_STATE_tag SRC_STATE;

namespace koru::netaudio {

// Converts a received two-channel stream from the sender's rate to the engine's, block by block
// as it arrives. Runs on the receiver's network thread, never on an audio thread, so it may
// allocate as blocks grow. Equal rates pass straight through.
class StreamResampler {
public:
    StreamResampler() = default;
    ~StreamResampler();
    StreamResampler(const StreamResampler&) = delete;
    StreamResampler& operator=(const StreamResampler&) = delete;

    // Whether any converter can take the stream from `from` to `to` Hz.
    static bool canConvert(double from, double to);

    // Starts afresh for a stream at `from` Hz played at `to` Hz: nothing of an earlier stream is
    // carried over. False (leaving the resampler passing through) when the rates cannot be
    // converted.
    bool configure(double from, double to);
    double inputRate() const { return mFrom; }
    double outputRate() const { return mTo; }
    bool converting() const { return mState != nullptr; }

    // Converts `frames` frames; the result stays valid until the next call. A converter keeps a
    // few frames of history, so output trails input by a short, constant delay.
    std::uint32_t process(const float* left, const float* right, std::uint32_t frames);
    const float* left() const { return mLeftOut.data(); }
    const float* right() const { return mRightOut.data(); }

private:
    double mFrom = 0.0;
    double mTo = 0.0;
    SRC_STATE* mState = nullptr;
    std::vector<float> mIn, mOut, mLeftOut, mRightOut;
};

} // namespace koru::netaudio
