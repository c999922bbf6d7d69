#pragma once

#include "spl/ZOFloatingAverageBuffer.h"

#include <cstdint>
#include <memory>

// The running statistics of one SPL meter, fed one calibrated level per spectrum: the current
// level and its maximum, a moving average (AVG, a mean of dB values), the equivalent continuous
// level since the last LEQ reset and a prediction of the LEQ at the end of the running period.
//
// LEQ uses a 3-dB exchange rate: every 3 dB (not 3.0103) doubles a level's weight. Its energy
// sum is a double, so days of levels neither lose additions nor drift.
//
// No lock of its own: the meter's controller serialises every call.
class KOSPLData {
public:
    static constexpr std::uint32_t kAverageCapacity = 38759;     // 15 min of 'fast' at 44.1 kHz
    static constexpr std::uint32_t kShortAverageCapacity = 1291; // 30 s of 'fast' at 44.1 kHz

    KOSPLData();

    // Window lengths in levels (spectra), capped at the rings' capacities.
    void SetAverageLength(std::uint32_t n);
    void SetShortAverageLength(std::uint32_t n);

    // Levels above 130 dB, below 0 dB (minus infinity included) and NaN are ignored entirely.
    void Add(float level);
    void GetValues(float& current, float& avg, float& max, float& leq) const;
    // LEQ and its prediction keep their last values until the next level.
    void ResetLEQ();
    void ClearAverage();

    // Levels in one full LEQ period, 0 for an open-ended LEQ (no prediction then).
    void SetTargetCount(std::uint32_t count) { mTargetCount = count; }
    std::uint32_t TargetCount() const { return mTargetCount; }
    void ResetMax() { mMax = 0.0f; }

    float Max() const { return mMax; }
    float Current() const { return mCurrent; }
    float Avg() const { return mAvg; }
    float Leq() const { return mLeq; }
    float PredictedLeq() const { return mPredictedLeq; }
    double EnergySum() const { return mEnergySum; }
    std::uint32_t Count() const { return mCount; }

private:
    float mMax = 0.0f;
    float mCurrent = 0.0f;
    float mAvg = 0.0f;
    float mLeq = 0.0f;
    double mEnergySum = 0.0;
    float mPredictedLeq = 0.0f;
    std::uint32_t mCount = 0;
    std::uint32_t mTargetCount = 0;
    std::unique_ptr<ZOFloatingAverageBuffer> mAverage;
    std::unique_ptr<ZOFloatingAverageBuffer> mShortAverage;
};
