#pragma once

#include "engine/KOOneChannelInstrument.h"
#include "engine/TripleBuffer.h"

#include <atomic>
#include <cstdint>
#include <vector>

// The level history's signal processing on one channel: an RMS over a sliding window of
// 1024..192000 frames (0.25 s by default, zeros before the first sample) and the block peak,
// the largest magnitude. The collector reads them held: a held value falls 30 dB/s (peak) and
// 40 dB/s (RMS), one step per collection, assuming one collection per buffer.
class KOLevelIntegrator : public KOOneChannelInstrument {
public:
    static constexpr std::uint32_t kRingFrames = 192000;
    static constexpr std::uint32_t kMinWindow = 1024;
    static constexpr double kDefaultWindowSeconds = 0.25;
    static constexpr float kPeakFallPerSecond = 30.0f;
    static constexpr float kRMSFallPerSecond = 40.0f;

    struct Levels {
        float rms = 0.0f; // dB, never below the engine floor
        float peak = 0.0f;
    };

    KOLevelIntegrator();
    ~KOLevelIntegrator() override;

    void Process(const AudioBufferList* buffers, std::uint32_t frames) override;
    // Fixes the fall steps from the host's rate and buffer size and resets the window.
    void SetHost(ZOAudioInput* host) override;
    bool IsPauseable() const override { return true; }

    // The window in frames, clamped to 1024..192000; the audio thread applies it at its next
    // buffer.
    void SetWindowFrames(std::uint32_t frames);
    std::uint32_t WindowFrames() const { return mWindowRequest.load(std::memory_order_relaxed); }
    void SetWindowSeconds(double seconds);

    // Collector thread: the held levels; false when no buffer came since the last call.
    bool Collect(Levels& out);

private:
    struct Linear {
        float rms = 0.0f;
        float peak = 0.0f;
    };
    void ApplyWindow(std::uint32_t window);

    std::vector<float> mSquares; // audio thread: ring of squared samples
    std::uint32_t mRingPosition = 0;
    std::uint32_t mWindow = 0;
    double mSum = 0.0; // of the window's squares
    std::atomic<std::uint32_t> mWindowRequest{0};
    koru::TripleBuffer<Linear> mLevels{Linear{}};

    float mPeakFall = 0.0f; // dB per collection
    float mRMSFall = 0.0f;
    Levels mHeld{-144.0f, -144.0f}; // collector
};
