#pragma once

#include "engine/KOFloatBuffer.h"

#include <cstdint>

// Power factors of the frequency weightings (1 = 0 dB), f in Hz. The upper pole sits at
// 12200 Hz; each curve is normalised to unity at 1 kHz.
double a_weighting_power(double f);
double b_weighting_power(double f);
double c_weighting_power(double f);

// A table of weighting power factors for the bins of an FFT of `length` points: entry i belongs
// to the frequency i · sampleRate / length, so entry 0 (DC, and Nyquist in the packed layout)
// weighs 0.
class KOWeightingBuffer : public KOFloatBuffer {
public:
    KOWeightingBuffer(std::uint32_t length, std::uint32_t weighting, double sampleRate);

    // 'a_wt', 'b_wt' or 'c_wt'; anything else is reported on standard output and becomes 'a_wt'.
    void SetWeighting(std::uint32_t type);
    // Refills only when the rate really differs.
    void SetSampleRate(double rate);

    std::uint32_t Weighting() const { return mWeighting; }
    double SampleRate() const { return mSampleRate; }

private:
    void Refill();

    std::uint32_t mWeighting = 0;
    double mSampleRate = 0.0;
};
