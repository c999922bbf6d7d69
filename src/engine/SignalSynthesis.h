#pragma once

#include "engine/AudioSource.h"

#include <array>
#include <atomic>
#include <cstdint>

namespace koru {

// The signal generator's test signal: a sine, a logarithmic sweep, pink noise (eight rows of
// random values, one row renewed per sample, the row chosen by the trailing zeros of a counter)
// or white noise, the same on both channels. The noise of every generator in the process draws
// on one shared linear congruential sequence.
//
// Settings are written on the main thread while render() runs on the output's thread: each is
// an atomic read once per sample or per buffer, so a change lands between two samples and never
// tears. The running state (phase, sweep frequency, noise rows) belongs to the output thread.
class SignalSynthesis final : public AudioSource {
public:
    enum SignalType : std::int32_t { Sine = 0, Sweep = 1, PinkNoise = 2, WhiteNoise = 3 };

    static constexpr std::uint32_t kInitialSeed = 424242;
    static constexpr std::uint32_t kSeedMultiplier = 100719801;
    static constexpr std::uint32_t kSeedIncrement = 770702777;
    static constexpr std::int32_t kPinkIndexMask = 255;     // eight rows
    static constexpr float kPinkScale = 1.0f / 75497472.0f; // 1 / (9 · 2^23)
    static constexpr float kWhiteScale = 4.656613e-10f;     // 2^-31
    static constexpr float kLowestFrequency = 10.0f;

    SignalSynthesis();

    void setSampleRate(double rate) override;
    void render(float* const* channels, std::uint32_t frames) noexcept override;

    // Limited to the Nyquist frequency, then raised to 10 Hz when not above it.
    void setFrequency(float frequency);
    float frequency() const { return mFrequency.load(std::memory_order_relaxed); }
    void setAmplitude(float amplitude) { mAmplitude.store(amplitude, std::memory_order_relaxed); }
    float amplitude() const { return mAmplitude.load(std::memory_order_relaxed); }
    // Any value is kept; one that names no signal renders silence.
    void setSignalType(std::int32_t type) { mSignalType.store(type, std::memory_order_relaxed); }
    std::int32_t signalType() const { return mSignalType.load(std::memory_order_relaxed); }
    // Low: the smaller bound, limited to Nyquist and raised to 10 Hz; high: the larger, limited
    // to Nyquist only. The sweep restarts at the low bound when it passes the high one or finds
    // itself below the low one.
    void setSweepBounds(float a, float b);
    float sweepLow() const { return mSweepLow.load(std::memory_order_relaxed); }
    float sweepHigh() const { return mSweepHigh.load(std::memory_order_relaxed); }
    // Speed s multiplies the sweep's frequency by 1 + s / 10000 per sample.
    void setSweepSpeed(float speed);
    float sweepSpeed() const;
    double sweepFactor() const { return mSweepFactor.load(std::memory_order_relaxed); }
    void setMute(bool mute) { mMute.store(mute, std::memory_order_relaxed); }
    bool mute() const { return mMute.load(std::memory_order_relaxed); }
    double sampleRate() const { return mSampleRate.load(std::memory_order_relaxed); }
    double nyquist() const { return sampleRate() / 2.0; }

    // The sequence every generator's noise draws on.
    static std::uint32_t nextSeed(std::uint32_t seed) {
        return seed * kSeedMultiplier + kSeedIncrement;
    }
    static std::uint32_t noiseSeed() { return sSeed.load(std::memory_order_relaxed); }
    static void setNoiseSeed(std::uint32_t seed) { sSeed.store(seed, std::memory_order_relaxed); }

private:
    void renderSine(float* out, std::uint32_t frames, float amplitude);
    void renderSweep(float* out, std::uint32_t frames, float amplitude);
    std::uint32_t renderPink(float* out, std::uint32_t frames, float amplitude, std::uint32_t seed);
    static std::uint32_t renderWhite(float* out, std::uint32_t frames, float amplitude,
                                     std::uint32_t seed);

    static std::atomic<std::uint32_t> sSeed;

    // Settings (main thread writes, output thread reads).
    std::atomic<float> mFrequency{1000.0f};
    std::atomic<float> mSweepLow{10.0f};
    std::atomic<float> mSweepHigh{20000.0f};
    std::atomic<double> mSweepFactor{1.00001};
    std::atomic<float> mAmplitude{1.0f};
    std::atomic<double> mSampleRate{44100.0};
    std::atomic<std::int32_t> mSignalType{Sine};
    std::atomic<bool> mMute{false};

    // Running state (output thread).
    double mPhase = 0.0; // sine: running sample count; sweep: radians
    float mSweepFrequency = 10.0f;
    std::array<std::int32_t, 32> mPinkRows{};
    std::int32_t mPinkSum = 0;
    std::int32_t mPinkIndex = 0;
};

} // namespace koru
