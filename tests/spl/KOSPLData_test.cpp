#include "spl/KOSPLData.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace {

void addRepeated(KOSPLData& data, float level, int times) {
    for (int i = 0; i < times; ++i)
        data.Add(level);
}

} // namespace

TEST(KOSPLData, StartsEmptyWithFullWindows) {
    const KOSPLData data;
    float current = -1, avg = -1, max = -1, leq = -1;
    data.GetValues(current, avg, max, leq);
    EXPECT_EQ(current, 0.0f);
    EXPECT_EQ(avg, 0.0f);
    EXPECT_EQ(max, 0.0f);
    EXPECT_EQ(leq, 0.0f);
    EXPECT_EQ(data.Count(), 0u);
    EXPECT_EQ(data.TargetCount(), 0u);
}

// Out-of-range levels leave no trace at all, not even as the current level; both ends of the
// range are accepted.
TEST(KOSPLData, IgnoresLevelsOutsideZeroTo130) {
    const float ignored[] = {131.0f,
                             130.01f,
                             -1.0f,
                             -0.001f,
                             std::numeric_limits<float>::quiet_NaN(),
                             -std::numeric_limits<float>::infinity(),
                             std::numeric_limits<float>::infinity()};
    for (const float level : ignored) {
        KOSPLData data;
        data.SetTargetCount(10);
        data.Add(80.0f);
        data.Add(level);
        EXPECT_EQ(data.Current(), 80.0f) << level;
        EXPECT_EQ(data.Max(), 80.0f) << level;
        EXPECT_EQ(data.Count(), 1u) << level;
        EXPECT_FLOAT_EQ(data.Leq(), 80.0f) << level;
        EXPECT_FLOAT_EQ(data.Avg(), 80.0f) << level;
        EXPECT_FLOAT_EQ(data.PredictedLeq(), 80.0f) << level;
    }
    for (const float level : {0.0f, 130.0f}) {
        KOSPLData data;
        data.Add(level);
        EXPECT_EQ(data.Current(), level);
        EXPECT_EQ(data.Count(), 1u);
    }
}

TEST(KOSPLData, FirstLevelDefinesEverything) {
    KOSPLData data;
    data.SetTargetCount(100);
    data.Add(73.5f);
    float current = 0, avg = 0, max = 0, leq = 0;
    data.GetValues(current, avg, max, leq);
    EXPECT_EQ(current, 73.5f);
    EXPECT_EQ(max, 73.5f);
    EXPECT_FLOAT_EQ(avg, 73.5f);
    EXPECT_NEAR(leq, 73.5f, 1e-4f);
    EXPECT_NEAR(data.PredictedLeq(), 73.5f, 1e-4f);
}

// Every 3 dB doubles a level's weight: the energy mean of 10^(L/10) would give 96.99 and
// 87.04 only by luck of rounding.
TEST(KOSPLData, LeqUsesAThreeDecibelExchangeRate) {
    struct Case {
        float first;
        float second;
        int each;
        float leq;
    };
    const Case cases[] = {
        {0.0f, 100.0f, 1, 97.000f},
        {90.0f, 70.0f, 430, 87.042f},  // 10 s at 90 dB, then 10 s at 70 dB ('fast', 43/s)
        {80.0f, 83.0f, 50, 81.7549f},  // 3 dB apart: weights 1 and 2
        {94.0f, 94.0f, 1000, 94.000f}, // steady
    };
    for (const Case& c : cases) {
        KOSPLData data;
        addRepeated(data, c.first, c.each);
        addRepeated(data, c.second, c.each);
        EXPECT_NEAR(data.Leq(), c.leq, 0.001f) << c.first << " / " << c.second;
    }
    // 10 s alternating blocks over a minute give the same as one pair.
    KOSPLData data;
    for (int block = 0; block < 3; ++block) {
        addRepeated(data, 90.0f, 430);
        addRepeated(data, 70.0f, 430);
    }
    EXPECT_NEAR(data.Leq(), 87.042f, 0.001f);
}

// More than 2^24 levels: a float energy sum would stop growing there and drag the LEQ down by
// 3 dB per doubling of the run time.
TEST(KOSPLData, LeqHoldsOverDaysOfLevels) {
    KOSPLData data;
    addRepeated(data, 100.0f, 20'000'000);
    data.Add(100.0f);
    EXPECT_NEAR(data.Leq(), 100.0f, 0.001f);
}

TEST(KOSPLData, ResetStartsANewLeqPeriod) {
    KOSPLData data;
    data.SetTargetCount(10);
    addRepeated(data, 90.0f, 5);
    data.ResetLEQ();
    EXPECT_EQ(data.Count(), 0u);
    EXPECT_EQ(data.EnergySum(), 0.0);
    // The last values stand until the next level.
    EXPECT_FLOAT_EQ(data.Leq(), 90.0f);
    EXPECT_FLOAT_EQ(data.PredictedLeq(), 90.0f);
    data.Add(60.0f);
    EXPECT_NEAR(data.Leq(), 60.0f, 1e-4f);
    // Max and the average are not part of the LEQ period.
    EXPECT_EQ(data.Max(), 90.0f);
    EXPECT_FLOAT_EQ(data.Avg(), (5 * 90.0f + 60.0f) / 6);
}

// The prediction assumes the rest of the period continues at the short average.
TEST(KOSPLData, PredictionExtrapolatesTheShortAverage) {
    KOSPLData data;
    data.SetTargetCount(10);
    data.SetShortAverageLength(2);
    for (const float level : {70.0f, 70.0f, 70.0f, 90.0f, 90.0f})
        data.Add(level);
    EXPECT_NEAR(data.Leq(), 86.0976f, 0.001f);
    EXPECT_NEAR(data.PredictedLeq(), 88.4745f, 0.001f);

    // Without a period the prediction stays where it was.
    data.SetTargetCount(0);
    data.Add(40.0f);
    EXPECT_NEAR(data.PredictedLeq(), 88.4745f, 0.001f);
}

// A reset that comes late (more levels than the period holds) must not let the remaining count
// wrap around: the prediction is the energy so far spread over the period.
TEST(KOSPLData, PredictionAfterAnOverrunPeriod) {
    KOSPLData data;
    data.SetTargetCount(4);
    addRepeated(data, 80.0f, 4);
    EXPECT_NEAR(data.PredictedLeq(), 80.0f, 0.001f);
    addRepeated(data, 80.0f, 2);
    EXPECT_NEAR(data.PredictedLeq(), 81.7549f, 0.001f);
    EXPECT_NEAR(data.Leq(), 80.0f, 0.001f);
}

TEST(KOSPLData, AverageFollowsItsWindowAndRestarts) {
    KOSPLData data;
    data.SetAverageLength(3);
    for (const float level : {60.0f, 70.0f, 80.0f, 90.0f})
        data.Add(level);
    EXPECT_FLOAT_EQ(data.Avg(), 80.0f); // an arithmetic mean of decibels
    EXPECT_EQ(data.Max(), 90.0f);

    // After a change of channel the average starts again from the next level.
    data.ClearAverage();
    data.Add(50.0f);
    EXPECT_FLOAT_EQ(data.Avg(), 50.0f);
    data.Add(56.0f);
    EXPECT_FLOAT_EQ(data.Avg(), 53.0f);

    // Windows beyond the rings' capacities are cut to them.
    data.SetAverageLength(1'000'000);
    data.SetShortAverageLength(1'000'000);
    data.Add(40.0f);
    EXPECT_FLOAT_EQ(data.Avg(), 40.0f);

    data.ResetMax();
    EXPECT_EQ(data.Max(), 0.0f);
    data.Add(45.0f);
    EXPECT_EQ(data.Max(), 45.0f);
}
