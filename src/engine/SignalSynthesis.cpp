#include "engine/SignalSynthesis.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <numbers>

namespace koru {

namespace {

constexpr double kTwoPi = 2.0 * std::numbers::pi;

// Not above `limit`, then at least the lowest frequency; NaN ends at the lowest.
float limitedFrequency(float frequency, double limit) {
    const auto upper = float(limit);
    if (frequency > upper) {
        frequency = upper;
    }
    if (!(frequency > SignalSynthesis::kLowestFrequency)) {
        frequency = SignalSynthesis::kLowestFrequency;
    }
    return frequency;
}

} // namespace

std::atomic<std::uint32_t> SignalSynthesis::sSeed{SignalSynthesis::kInitialSeed};

SignalSynthesis::SignalSynthesis() = default;

void SignalSynthesis::setSampleRate(double rate) {
    if (!(rate > 0.0) || !std::isfinite(rate)) {
        return;
    }
    mSampleRate.store(rate, std::memory_order_relaxed);
    // A lower rate must not leave a tone above its Nyquist frequency.
    if (frequency() > float(nyquist())) {
        setFrequency(frequency());
    }
    if (sweepHigh() > float(nyquist()) || sweepLow() > float(nyquist())) {
        setSweepBounds(sweepLow(), sweepHigh());
    }
}

void SignalSynthesis::setFrequency(float frequency) {
    mFrequency.store(limitedFrequency(frequency, nyquist()), std::memory_order_relaxed);
}

void SignalSynthesis::setSweepBounds(float a, float b) {
    const auto upper = float(nyquist());
    float high = std::max(a, b);
    if (high > upper) {
        high = upper;
    }
    mSweepLow.store(limitedFrequency(std::min(a, b), nyquist()), std::memory_order_relaxed);
    mSweepHigh.store(high, std::memory_order_relaxed);
}

void SignalSynthesis::setSweepSpeed(float speed) {
    if (!std::isfinite(speed)) {
        speed = 0.0f;
    }
    mSweepFactor.store(1.0 + double(speed) / 10000.0, std::memory_order_relaxed);
}

float SignalSynthesis::sweepSpeed() const {
    return (float(sweepFactor()) - 1.0f) * 10000.0f;
}

void SignalSynthesis::render(float* const* channels, std::uint32_t frames) noexcept {
    float* left = channels[0];
    float* right = channels[1];
    const float amplitude = this->amplitude();
    const std::int32_t type = signalType();
    if (mute() || type < Sine || type > WhiteNoise) {
        // A type from a damaged session file names nothing: silence, never stale audio.
        std::fill_n(left, frames, 0.0f);
        std::fill_n(right, frames, 0.0f);
        return;
    }
    switch (type) {
    case Sine:
        renderSine(left, frames, amplitude);
        break;
    case Sweep:
        renderSweep(left, frames, amplitude);
        break;
    case PinkNoise:
        // The shared seed is read and written back once per buffer.
        setNoiseSeed(renderPink(left, frames, amplitude, noiseSeed()));
        break;
    default:
        setNoiseSeed(renderWhite(left, frames, amplitude, noiseSeed()));
        break;
    }
    std::copy_n(left, frames, right);
}

void SignalSynthesis::renderSine(float* out, std::uint32_t frames, float amplitude) {
    // The phase is the running sample count, so a new frequency applies to it at once.
    const double step = double(frequency()) * kTwoPi / sampleRate();
    for (std::uint32_t i = 0; i < frames; ++i) {
        out[i] = float(double(amplitude) * std::sin(step * mPhase));
        mPhase += 1.0;
    }
}

void SignalSynthesis::renderSweep(float* out, std::uint32_t frames, float amplitude) {
    const double factor = sweepFactor();
    const float low = sweepLow();
    const float high = sweepHigh();
    const double radiansPerHertz = kTwoPi / sampleRate();
    for (std::uint32_t i = 0; i < frames; ++i) {
        mSweepFrequency = float(double(mSweepFrequency) * factor);
        // Below the low bound (the first sweep, or a bound just raised) the sweep would climb
        // through frequencies outside its range for seconds: it starts at the bound instead.
        if (mSweepFrequency > high || mSweepFrequency < low) {
            mSweepFrequency = low;
        }
        out[i] = float(double(amplitude) * std::sin(mPhase));
        mPhase += double(mSweepFrequency) * radiansPerHertz;
        // Kept within one turn, so a sweep that runs for hours stays as clean as the first.
        if (mPhase >= kTwoPi) {
            mPhase -= kTwoPi;
        }
    }
}

std::uint32_t SignalSynthesis::renderPink(float* out, std::uint32_t frames, float amplitude,
                                          std::uint32_t seed) {
    for (std::uint32_t i = 0; i < frames; ++i) {
        mPinkIndex = (mPinkIndex + 1) & kPinkIndexMask;
        if (mPinkIndex != 0) {
            const int row = std::countr_zero(std::uint32_t(mPinkIndex));
            seed = nextSeed(seed);
            const std::int32_t value = std::int32_t(seed) >> 8;
            mPinkSum += value - mPinkRows[std::size_t(row)];
            mPinkRows[std::size_t(row)] = value;
        }
        seed = nextSeed(seed);
        const std::int32_t white = std::int32_t(seed) >> 8;
        out[i] = float(white + mPinkSum) * kPinkScale * amplitude;
    }
    return seed;
}

std::uint32_t SignalSynthesis::renderWhite(float* out, std::uint32_t frames, float amplitude,
                                           std::uint32_t seed) {
    for (std::uint32_t i = 0; i < frames; ++i) {
        seed = nextSeed(seed);
        out[i] = float(std::int32_t(seed)) * amplitude * kWhiteScale;
    }
    return seed;
}

} // namespace koru
