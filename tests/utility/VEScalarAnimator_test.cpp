#include "utility/VEScalarAnimator.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

namespace {

struct ProgressCase {
    double start;
    double end;
    float progress;
    double value;
};

class VEScalarAnimatorProgressTest : public ::testing::TestWithParam<ProgressCase> {};

TEST_P(VEScalarAnimatorProgressTest, BlockGetsTheLinearValueOfTheProgress) {
    const ProgressCase& c = GetParam();
    std::vector<double> values;
    VEScalarAnimator animator(c.start, c.end, 1.0, [&](double v) { values.push_back(v); });
    animator.setCurrentProgress(c.progress);
    ASSERT_EQ(values.size(), 1U);
    EXPECT_DOUBLE_EQ(values[0], c.value);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, VEScalarAnimatorProgressTest,
    ::testing::Values(ProgressCase{10, 20, 0.5F, 15}, ProgressCase{10, 20, 0.0F, 10},
                      ProgressCase{10, 20, 1.0F, 20}, ProgressCase{20, 10, 0.25F, 17.5},
                      ProgressCase{-1, 1, 0.75F, 0.5}, ProgressCase{10, 20, 1.5F, 20},
                      ProgressCase{10, 20, -0.5F, 10},
                      ProgressCase{10, 20, std::numeric_limits<float>::quiet_NaN(), 10}));

TEST(VEScalarAnimatorTest, AnimationTimeDrivesTheBlockLinearlyAndOnlyTheCurrentValueEases) {
    std::vector<double> values;
    VEScalarAnimator animator(10.0, 20.0, 2.0, [&](double v) { values.push_back(v); });
    EXPECT_EQ(animator.duration(), 2000);

    // The animation's own clock, set by hand: a quarter, half, three quarters, the end.
    const struct {
        int ms;
        double linear;
    } steps[] = {{500, 12.5}, {1000, 15.0}, {1500, 17.5}, {2000, 20.0}};
    for (const auto& step : steps) {
        SCOPED_TRACE(step.ms);
        animator.setCurrentTime(step.ms);
        ASSERT_FALSE(values.empty());
        EXPECT_DOUBLE_EQ(values.back(), step.linear);
        // Ease-in-out lags behind the linear value in the first half and leads in the second.
        if (step.linear < 15.0)
            EXPECT_LT(animator.currentValue(), step.linear);
        else if (step.linear > 15.0 && step.linear < 20.0)
            EXPECT_GT(animator.currentValue(), step.linear);
        else
            EXPECT_NEAR(animator.currentValue(), step.linear, 1e-9);
    }
}

TEST(VEScalarAnimatorTest, OddDurationsEndAtOnceAndTheBlockMayBeSwappedOrCleared) {
    for (const double seconds : {0.0, -3.0, std::numeric_limits<double>::quiet_NaN()}) {
        SCOPED_TRACE(seconds);
        double last = 0.0;
        VEScalarAnimator animator(1.0, 5.0, seconds, [&](double v) { last = v; });
        EXPECT_EQ(animator.duration(), 0);
        animator.setCurrentTime(0);
        EXPECT_DOUBLE_EQ(last, 5.0);
    }

    double first = 0.0;
    double second = 0.0;
    VEScalarAnimator animator(0.0, 1.0, 1.0, [&](double v) { first = v; });
    animator.setBlock([&](double v) { second = v; });
    animator.setCurrentProgress(0.5F);
    EXPECT_EQ(first, 0.0);
    EXPECT_EQ(second, 0.5);
    animator.setBlock({});
    animator.setCurrentProgress(1.0F); // nothing to call, nothing breaks
    EXPECT_EQ(animator.currentProgress(), 1.0F);
}

} // namespace
