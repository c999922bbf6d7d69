#include "spl/KOSPLData.h"

#include <cmath>

namespace {

// log10(2)/3 and its inverse: a level's weight is 2^(L/3) = 10^(kExchange·L).
constexpr double kExchange = 0.10034333;
constexpr double kInverseExchange = 9.965784;

double weightOf(double level) {
    return std::pow(10.0, kExchange * level);
}

float levelOf(double meanWeight) {
    return float(kInverseExchange * std::log10(meanWeight));
}

void setLength(std::unique_ptr<ZOFloatingAverageBuffer>& ring, std::uint32_t capacity,
               std::uint32_t n) {
    if (!ring)
        ring = std::make_unique<ZOFloatingAverageBuffer>(capacity, n);
    else
        ring->SetLength(n);
}

} // namespace

KOSPLData::KOSPLData() {
    SetAverageLength(kAverageCapacity);
    SetShortAverageLength(kShortAverageCapacity);
}

void KOSPLData::SetAverageLength(std::uint32_t n) {
    setLength(mAverage, kAverageCapacity, n);
}

void KOSPLData::SetShortAverageLength(std::uint32_t n) {
    setLength(mShortAverage, kShortAverageCapacity, n);
}

void KOSPLData::Add(float level) {
    if (!(level >= 0.0f && level <= 130.0f))
        return;
    mCurrent = level;
    if (level > mMax)
        mMax = level;
    mEnergySum += weightOf(level);
    ++mCount;
    mLeq = levelOf(mEnergySum / double(mCount));
    mAvg = mAverage->Add(level);
    const float shortAverage = mShortAverage->Add(level);
    if (mTargetCount == 0)
        return;
    // The rest of the period is assumed to go on at the short average; a period already
    // overrun adds nothing, so a late reset never makes the prediction jump.
    const double remaining = mCount < mTargetCount ? double(mTargetCount - mCount) : 0.0;
    mPredictedLeq =
        levelOf((remaining * weightOf(shortAverage) + mEnergySum) / double(mTargetCount));
}

void KOSPLData::GetValues(float& current, float& avg, float& max, float& leq) const {
    current = mCurrent;
    avg = mAvg;
    max = mMax;
    leq = mLeq;
}

void KOSPLData::ResetLEQ() {
    mEnergySum = 0.0;
    mCount = 0;
}

void KOSPLData::ClearAverage() {
    mAverage->ClearSum();
}
