#include "engine/KOFloatBuffer.h"
#include "framework/ZOLogViewMath.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <thread>

namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

struct LowerBoundCase {
    double requested;
    double upper;
    double expected;
};

class LowerBoundSnapping : public testing::TestWithParam<LowerBoundCase> {};

TEST_P(LowerBoundSnapping, LandsOnTheR10Series) {
    const LowerBoundCase c = GetParam();
    ZOLogViewMath math(3, 50.0, c.upper, 24000.0);
    math.setLowFrequency(c.requested);
    EXPECT_DOUBLE_EQ(math.lowFrequency(), c.expected) << "requested " << c.requested;
}

INSTANTIATE_TEST_SUITE_P(
    Values, LowerBoundSnapping,
    testing::Values(LowerBoundCase{50.0, 20000.0, 50.0}, LowerBoundCase{60.0, 20000.0, 50.0},
                    LowerBoundCase{700.0, 20000.0, 630.0}, LowerBoundCase{1999.0, 20000.0, 1600.0},
                    LowerBoundCase{1000.0, 20000.0, 1000.0},
                    // limited to a tenth of the upper bound first, then snapped
                    LowerBoundCase{3000.0, 20000.0, 2000.0}, LowerBoundCase{12.0, 20000.0, 10.0},
                    // a hair below a step keeps the step
                    LowerBoundCase{49.999999, 20000.0, 50.0},
                    LowerBoundCase{31.5 * (1.0 - 1e-9), 20000.0, 31.5},
                    LowerBoundCase{999.9999999999, 20000.0, 1000.0},
                    LowerBoundCase{10.0 * (1.0 - 1e-15), 20000.0, 10.0},
                    // far enough below is the step below
                    LowerBoundCase{49.9, 20000.0, 40.0}));

TEST(ZOLogViewMathR10, EveryStepSurvivesARoundTripThroughThePosition) {
    const double steps[] = {1.0, 1.25, 1.6, 2.0, 2.5, 3.15, 4.0, 5.0, 6.3, 8.0};
    ZOLogViewMath math(3, 1.0, 20000.0, 24000.0);
    for (double decade : {1.0, 10.0, 100.0, 1000.0}) {
        for (double step : steps) {
            const double hertz = step * decade;
            const double roundTrip = math.positionToFrequency(math.frequencyToPosition(hertz));
            EXPECT_NEAR(ZOLogViewMath::snapToR10(roundTrip), hertz, hertz * 1e-12) << hertz;
            EXPECT_NEAR(ZOLogViewMath::snapToR10(double(float(hertz))), hertz, hertz * 1e-12)
                << hertz;
        }
    }
}

TEST(ZOLogViewMathBounds, ConstructorLimitsTheLowerBoundByTheDefaultUpperBound) {
    const ZOLogViewMath math(3, 5000.0, 48000.0, 24000.0);
    EXPECT_DOUBLE_EQ(math.lowFrequency(), 2000.0);
    EXPECT_DOUBLE_EQ(math.highFrequency(), 48000.0);
}

TEST(ZOLogViewMathBounds, UpperBoundSpansADecadeOnlyAboveOneHundredHertz) {
    ZOLogViewMath above(3, 200.0, 20000.0, 24000.0);
    above.setHighFrequency(500.0);
    EXPECT_DOUBLE_EQ(above.highFrequency(), 2000.0);

    ZOLogViewMath at(3, 100.0, 20000.0, 24000.0);
    at.setHighFrequency(500.0);
    EXPECT_DOUBLE_EQ(at.highFrequency(), 500.0);
}

TEST(ZOLogViewMathBounds, UpperBoundNeverFallsToTheLowerBound) {
    ZOLogViewMath math(3, 50.0, 20000.0, 24000.0);
    for (double requested : {40.0, 50.0, 1.0, 0.0}) {
        math.setHighFrequency(requested);
        EXPECT_GT(math.highFrequency(), math.lowFrequency()) << requested;
        EXPECT_DOUBLE_EQ(math.frequencyToPosition(math.highFrequency()), 1.0);
    }
}

TEST(ZOLogViewMathBounds, FrequencyRangeLandsTheSameFromAnyPreviousRange) {
    struct Range {
        double lower, upper;
    };
    const Range starts[] = {{50, 5000}, {50, 20000}, {2000, 20000}, {1000, 10000}, {10, 100}};
    const Range targets[] = {{2000, 20000}, {50, 5000}, {200, 500}, {60, 20000}, {20, 24000}};
    for (const Range target : targets) {
        ZOLogViewMath reference(3, 50.0, 20000.0, 24000.0);
        reference.setFrequencyRange(target.lower, target.upper);
        for (const Range start : starts) {
            ZOLogViewMath math(3, 50.0, 20000.0, 24000.0);
            math.setFrequencyRange(start.lower, start.upper);
            math.setFrequencyRange(target.lower, target.upper);
            EXPECT_DOUBLE_EQ(math.lowFrequency(), reference.lowFrequency())
                << start.lower << ".." << start.upper << " -> " << target.lower;
            EXPECT_DOUBLE_EQ(math.highFrequency(), reference.highFrequency())
                << start.lower << ".." << start.upper << " -> " << target.upper;
        }
    }
    ZOLogViewMath moved(3, 50.0, 5000.0, 24000.0);
    moved.setFrequencyRange(2000.0, 20000.0);
    EXPECT_DOUBLE_EQ(moved.lowFrequency(), 2000.0);
    EXPECT_DOUBLE_EQ(moved.highFrequency(), 20000.0);
}

TEST(ZOLogViewMathBounds, UnusableRequestsLeaveAUsableAxis) {
    const double requests[] = {0.0, -5.0, kNaN, kInf, -kInf, 1e-300};
    for (double requested : requests) {
        ZOLogViewMath math(3, 50.0, 20000.0, requested);
        math.SetFFTSize(8192, 800.0);
        math.setLowFrequency(requested);
        math.setHighFrequency(requested);
        math.setFrequencyRange(requested, requested);
        EXPECT_GT(math.lowFrequency(), 0.0) << requested;
        EXPECT_TRUE(std::isfinite(math.highFrequency())) << requested;
        EXPECT_GT(math.highFrequency(), math.lowFrequency()) << requested;
        EXPECT_GT(math.nyquist(), 0.0) << requested;
        EXPECT_TRUE(std::isfinite(math.frequencyToPosition(1000.0))) << requested;
        if (!(requested > 0.0)) {
            EXPECT_EQ(math.frequencyToPosition(requested), 0.0) << requested;
        }
    }
    ZOLogViewMath math(3, 50.0, 20000.0, 0.0);
    EXPECT_DOUBLE_EQ(math.nyquist(), ZOLogViewMath::kDefaultNyquist);
}

TEST(ZOLogViewMathPosition, MapsTheBoundsToZeroAndOne) {
    const ZOLogViewMath math(3, 50.0, 20000.0, 24000.0);
    EXPECT_DOUBLE_EQ(math.frequencyToPosition(20.0), 0.0);
    EXPECT_DOUBLE_EQ(math.frequencyToPosition(50.0), 0.0);
    EXPECT_DOUBLE_EQ(math.frequencyToPosition(20000.0), 1.0);
    EXPECT_GT(math.frequencyToPosition(22000.0), 1.0);
    EXPECT_DOUBLE_EQ(math.positionToFrequency(0.0), 50.0);
    EXPECT_NEAR(math.positionToFrequency(0.5), 1000.0, 1e-9);
}

class LayoutTest : public testing::Test {
protected:
    LayoutTest() { math.SetFFTSize(8192, 800.0); }
    ZOLogViewMath math{3, 50.0, 20000.0, 24000.0};
};

TEST_F(LayoutTest, KeepsAboutOneBinPerPixel) {
    std::lock_guard lock(math.mutex());
    const auto& points = math.layerPoints();
    ASSERT_EQ(points.size(), 504u);
    EXPECT_EQ(points.front().bin, 9u); // 52.7 Hz, the first bin a pixel right of 50 Hz
    for (std::size_t i = 1; i < points.size(); ++i) {
        EXPECT_GT(points[i].x, points[i - 1].x + 1.0 / 800.0) << i;
        EXPECT_DOUBLE_EQ(math.points()[i].x(), points[i].x);
    }
    EXPECT_EQ(math.width(), 800.0);
    ASSERT_NE(math.binPositions(), nullptr);
    EXPECT_EQ(math.binPositions()->Length(), 8192u);
    EXPECT_FLOAT_EQ(math.binPositions()->Data()[9], float(points.front().x));
    EXPECT_EQ(math.binPositions()->Data()[0], 0.0f);
}

TEST_F(LayoutTest, SmallSizesAndWidthsLeaveTheLayoutAsItWas) {
    for (auto [size, width] : {std::pair{64u, 800.0}, {8192u, 0.5}, {8192u, kNaN}}) {
        math.SetFFTSize(size, width);
        EXPECT_EQ(math.numLayerPoints(), 504);
        EXPECT_EQ(math.fftSize(), 8192u);
    }
}

TEST_F(LayoutTest, NoBinRightOfTheLowerBoundGivesAnEmptyLayout) {
    math.setFrequencyRange(50.0, 24000.0);
    math.SetFFTSize(8192, 1.0);
    EXPECT_EQ(math.numLayerPoints(), 0);
    math.SetFFTSize(8192, 800.0);
    EXPECT_GT(math.numLayerPoints(), 0);
}

TEST_F(LayoutTest, BandsSitOnThePreferredCentres) {
    std::lock_guard lock(math.mutex());
    const auto& bands = math.octaves();
    ASSERT_EQ(bands.size(), 26u);
    EXPECT_FLOAT_EQ(bands[0].centre, 50.0f);
    EXPECT_NEAR(bands[1].centre, 63.0, 0.05);
    EXPECT_NEAR(bands[2].centre, 79.4, 0.05);
    EXPECT_DOUBLE_EQ(bands[0].xL, 0.0); // lower edge below the bound
    for (std::size_t k = 1; k < bands.size(); ++k) {
        // one pixel between neighbouring bars
        EXPECT_NEAR(bands[k].xL - bands[k - 1].xR, 1.0 / 800.0, 1e-12) << k;
        EXPECT_GE(bands[k].binCount, 1u);
    }
}

TEST_F(LayoutTest, OctaveModeIsClampedToOneToTwentyFour) {
    for (auto [requested, expected] : {std::pair{0, 1}, {-3, 1}, {1, 1}, {24, 24}, {30, 24}}) {
        math.setOctaveMode(requested);
        EXPECT_EQ(math.bandsPerOctave(), expected) << requested;
        const int count =
            int(std::ceil(float(expected) * (std::log2(20000.0f) - std::log2(50.0f))));
        EXPECT_EQ(math.numOctaves(), count) << requested;
    }
}

TEST_F(LayoutTest, BandsAboveTheNyquistFrequencyAreEmpty) {
    math.setNyquist(8000.0);
    math.setFrequencyRange(50.0, 20000.0);
    std::lock_guard lock(math.mutex());
    const auto& bands = math.octaves();
    ASSERT_FALSE(bands.empty());
    for (const KOFFTLayerOctave& band : bands) {
        const bool above = band.centre / std::pow(2.0, 1.0 / 6.0) >= 8000.0;
        EXPECT_EQ(band.binCount == 0, above) << band.centre;
        EXPECT_LE(band.endBin, 4096u);
    }
}

TEST_F(LayoutTest, ReaderHoldingTheMutexSeesOneLayout) {
    std::atomic<bool> stop{false};
    std::thread writer([&] {
        for (int i = 0; i < 200 && !stop; ++i) {
            math.setFrequencyRange(i % 2 ? 20.0 : 50.0, i % 2 ? 24000.0 : 20000.0);
        }
    });
    for (int i = 0; i < 200; ++i) {
        std::lock_guard lock(math.mutex());
        const auto& points = math.layerPoints();
        for (std::size_t k = 1; k < points.size(); ++k) {
            ASSERT_GT(points[k].x, points[k - 1].x);
        }
        ASSERT_EQ(points.size(), math.points().size());
    }
    stop = true;
    writer.join();
}

} // namespace
