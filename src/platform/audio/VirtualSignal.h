#pragma once

#include <cstdint>

namespace koru::platform {

// What one channel of a virtual input plays. Every sample is a function of its absolute frame
// index, so a test can compute what any frame must hold.
struct VirtualSignal {
    enum class Kind {
        Silence,
        Sine,     // amplitude · sin(2π · frequency · n / rate)
        Noise,    // uniform in [−amplitude, amplitude), from a counter-based hash of (seed, n)
        Constant, // amplitude
        Ramp,     // (n mod 2^20) / 2^20: exact in float, so a lost or repeated frame shows
        NegativeHalfWave, // min(0, amplitude · sin(2π · frequency · n / rate)): the negative
                          // half-waves alone, for meters that must see negative peaks
    };

    Kind kind = Kind::Silence;
    double frequency = 1000.0;
    float amplitude = 0.5f;
    std::uint32_t seed = 0;
    // Frames of silence before the signal starts; the signal itself is shifted by as many, so
    // two channels of the same noise, one delayed, carry a known delay between them.
    std::uint64_t delay = 0;

    static VirtualSignal silence() { return {}; }
    static VirtualSignal sine(double frequency, float amplitude) {
        return {Kind::Sine, frequency, amplitude, 0};
    }
    static VirtualSignal negativeHalfWave(double frequency, float amplitude) {
        return {Kind::NegativeHalfWave, frequency, amplitude, 0};
    }
    static VirtualSignal noise(float amplitude, std::uint32_t seed) {
        return {Kind::Noise, 0.0, amplitude, seed};
    }
    static VirtualSignal constant(float value) { return {Kind::Constant, 0.0, value, 0}; }
    static VirtualSignal ramp() { return {Kind::Ramp, 0.0, 1.0f, 0}; }
    VirtualSignal delayedBy(std::uint64_t frames) const {
        VirtualSignal delayed = *this;
        delayed.delay = frames;
        return delayed;
    }

    float sampleAt(std::uint64_t frame, double sampleRate) const;
    void fill(float* out, std::uint64_t firstFrame, std::uint32_t frames, double sampleRate) const;
};

} // namespace koru::platform
