#include "spl/KOWeightingBuffer.h"

#include "platform/fourcc/FourCC.h"

#include <fmt/format.h>

#include <cmath>

using koru::platform::fourCC;

namespace {

// Squares of the poles in Hz: 12200, 20.6, 107.7, 737.9 and 158.5.
constexpr double kPole12200 = 1.4884e8;
constexpr double kPole20 = 424.36;
constexpr double kPole107 = 11599.29;
constexpr double kPole737 = 544496.41;
constexpr double kPole158 = 25122.25;

// Gains that lift each curve to unity at 1 kHz: 10^(2.0/10), 10^(0.17/10), 10^(0.06/10).
constexpr double kGainA = 1.5848931924611136;
constexpr double kGainB = 1.0399201658290593;
constexpr double kGainC = 1.0139113857366795;

double sharedDenominator(double f2) {
    return (f2 + kPole12200) * (f2 + kPole20);
}

} // namespace

double a_weighting_power(double f) {
    const double f2 = f * f;
    const double r = kPole12200 * f2 * f2 /
                     (std::sqrt(f2 + kPole737) * std::sqrt(f2 + kPole107) * sharedDenominator(f2));
    // The amplitude response is squared in single precision, as the tables always were.
    const float amplitude = float(r);
    return double(amplitude * amplitude) * kGainA;
}

double b_weighting_power(double f) {
    const double f2 = f * f;
    const double r = kPole12200 * f2 * f / (std::sqrt(f2 + kPole158) * sharedDenominator(f2));
    return r * r * kGainB;
}

double c_weighting_power(double f) {
    const double f2 = f * f;
    const double r = kPole12200 * f2 / sharedDenominator(f2);
    return r * r * kGainC;
}

KOWeightingBuffer::KOWeightingBuffer(std::uint32_t length, std::uint32_t weighting,
                                     double sampleRate)
    : KOFloatBuffer(length), mSampleRate(sampleRate) {
    SetWeighting(weighting);
}

void KOWeightingBuffer::SetWeighting(std::uint32_t type) {
    if (type != fourCC("a_wt") && type != fourCC("b_wt") && type != fourCC("c_wt")) {
        fmt::print("\nInvalid weighting type \"{}\" specified - Using A-Weighting instead!\n",
                   type);
        type = fourCC("a_wt");
    }
    mWeighting = type;
    Refill();
}

void KOWeightingBuffer::SetSampleRate(double rate) {
    if (rate == mSampleRate)
        return;
    mSampleRate = rate;
    Refill();
}

void KOWeightingBuffer::Refill() {
    double (*power)(double) = &a_weighting_power;
    if (mWeighting == fourCC("b_wt"))
        power = &b_weighting_power;
    else if (mWeighting == fourCC("c_wt"))
        power = &c_weighting_power;
    // The bin spacing is taken from the rate in single precision, like the frequency ramp the
    // level has always been weighted with.
    const double binWidth = double(float(mSampleRate)) / double(Length());
    float* table = Data();
    for (std::uint32_t i = 0; i < Length(); ++i)
        table[i] = float(power(double(i) * binWidth));
}
