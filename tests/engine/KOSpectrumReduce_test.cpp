#include "engine/KOSpectrumReduce.h"
#include "platform/fourcc/FourCC.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

namespace {

using koru::platform::fourCC;

// A spectrum of 4097 bins up to 4096 Hz (one bin per hertz) reduced to 200 points over
// 50..2000 Hz, as a plot would ask for it.
struct Reduction {
    static constexpr std::int32_t kBins = 4097;
    static constexpr double kLastBin = 4096.0;
    static constexpr std::uint32_t kPoints = 200;
    static constexpr double kLow = 50.0;
    static constexpr double kHigh = 2000.0;

    std::vector<double> run(const std::vector<float>& input, std::uint32_t mode,
                            double octaves = 0.0, std::uint32_t points = kPoints) const {
        std::vector<double> output(points, -1.0);
        smoothLogXScale(input.data(), std::int32_t(input.size()), output.data(), points, mode,
                        kLastBin, kLow, kHigh, octaves);
        return output;
    }
    static double centre(std::uint32_t j, std::uint32_t points = kPoints) {
        return kLow * std::pow(kHigh / kLow, double(j) / double(points - 1));
    }
    // Band edges of point j in bins (one bin per hertz here).
    static std::pair<double, double> band(std::uint32_t j, std::uint32_t points = kPoints) {
        const double half = std::pow(kHigh / kLow, 0.5 / double(points - 1));
        return {centre(j, points) / half, std::min(kLastBin, centre(j, points) * half)};
    }
};

struct ConstantCase {
    const char* name;
    std::uint32_t mode;
    // expected output for a constant k over a band [a, b] of bins
    double (*expected)(double k, double a, double b);
};

class ConstantSpectrum : public testing::TestWithParam<ConstantCase> {};

TEST_P(ConstantSpectrum, ReducesEachBandByItsMode) {
    const ConstantCase c = GetParam();
    const Reduction reduction;
    const std::vector<float> input(Reduction::kBins, 0.25f);
    const std::vector<double> output = reduction.run(input, c.mode);
    for (std::uint32_t j = 0; j < Reduction::kPoints; ++j) {
        const auto [a, b] = Reduction::band(j);
        EXPECT_NEAR(output[j], c.expected(0.25, a, b), 1e-9) << c.name << " point " << j;
    }
}

INSTANTIATE_TEST_SUITE_P(Modes, ConstantSpectrum,
                         testing::Values(ConstantCase{"whit", fourCC("whit"),
                                                      [](double k, double, double) { return k; }},
                                         ConstantCase{"peak", fourCC("peak"),
                                                      [](double k, double, double) { return k; }},
                                         // the weights of a band add up to its width in bins
                                         ConstantCase{"pink", fourCC("pink"),
                                                      [](double k, double a, double b) {
                                                          return k * std::sqrt(b - a);
                                                      }}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(SpectrumReduce, PinkGrowsWithTheBandWidth) {
    const Reduction reduction;
    const std::vector<double> output =
        reduction.run(std::vector<float>(Reduction::kBins, 1.0f), fourCC("pink"));
    for (std::uint32_t j = 1; j < Reduction::kPoints; ++j) {
        EXPECT_GT(output[j], output[j - 1]) << j;
    }
}

TEST(SpectrumReduce, PeakTakesTheLargestBinOfTheBand) {
    const Reduction reduction;
    // point 100 sits near 319 Hz, its band about six bins wide
    const auto [a, b] = Reduction::band(100);
    const int middle = int(std::round((a + b) / 2.0));
    std::vector<float> input(Reduction::kBins, 0.0f);
    input[middle - 1] = 0.1f;
    input[middle] = 0.9f;
    input[middle + 1] = 0.3f;
    const std::vector<double> peak = reduction.run(input, fourCC("peak"));
    EXPECT_FLOAT_EQ(float(peak[100]), 0.9f);
    const std::vector<double> mean = reduction.run(input, fourCC("whit"));
    EXPECT_NEAR(mean[100], 1.3 / (b - a), 1e-6);
}

TEST(SpectrumReduce, BandNarrowerThanABinTakesThatBin) {
    const Reduction reduction;
    std::mt19937 generator(7);
    std::uniform_real_distribution<float> value(0.0f, 1.0f);
    std::vector<float> input(Reduction::kBins);
    for (float& bin : input) {
        bin = value(generator);
    }
    // 2000 points: the lowest bands are a fraction of a bin wide
    const std::uint32_t points = 2000;
    const std::vector<double> output = reduction.run(input, fourCC("whit"), 0.0, points);
    int narrow = 0;
    for (std::uint32_t j = 0; j < points; ++j) {
        const auto [a, b] = Reduction::band(j, points);
        const auto lo = std::int64_t(a + 0.5);
        if (lo != std::int64_t(b + 0.5)) {
            continue;
        }
        ++narrow;
        EXPECT_EQ(output[j], double(input[lo])) << j;
    }
    EXPECT_GT(narrow, 100);
}

TEST(SpectrumReduce, SmoothingOfNothingChangesNothing) {
    const Reduction reduction;
    std::vector<float> input(Reduction::kBins, 0.0f);
    input[700] = 1.0f;
    const std::vector<double> plain = reduction.run(input, fourCC("whit"));
    EXPECT_EQ(reduction.run(input, fourCC("whit"), 0.0), plain);
    EXPECT_EQ(reduction.run(input, fourCC("whit"), -1.0), plain);
    EXPECT_NE(reduction.run(input, fourCC("whit"), 1.0 / 3.0), plain);
}

TEST(SpectrumReduce, SmoothingSpreadsAPeakOverItsWindowOnly) {
    const Reduction reduction;
    std::vector<float> input(Reduction::kBins, 0.0f);
    input[700] = 1.0f;
    const std::vector<double> plain = reduction.run(input, fourCC("peak"));
    const std::vector<double> smoothed = reduction.run(input, fourCC("peak"), 1.0 / 3.0);
    const auto hit = std::distance(plain.begin(), std::max_element(plain.begin(), plain.end()));
    const double peakHertz = Reduction::centre(std::uint32_t(hit));
    double total = 0.0;
    for (std::uint32_t j = 0; j < Reduction::kPoints; ++j) {
        const double octavesAway = std::fabs(std::log2(Reduction::centre(j) / peakHertz));
        if (octavesAway > 1.0 / 6.0 + 0.05) {
            EXPECT_EQ(smoothed[j], 0.0) << j;
        } else if (octavesAway < 1.0 / 6.0 - 0.05) {
            EXPECT_GT(smoothed[j], 0.0) << j;
        }
        total += smoothed[j];
    }
    EXPECT_GT(total, 0.5); // each point in reach averages the peak over its window
}

TEST(SpectrumReduce, SmoothingOfAConstantIsTheConstant) {
    // as many points as bins over the same range
    const std::int32_t bins = 512;
    std::vector<float> input(bins, 3.0f);
    std::vector<double> output(bins);
    smoothLogXScale(input.data(), bins, output.data(), bins, fourCC("whit"), 24000.0,
                    24000.0 / 511.0, 24000.0, 1.0 / 3.0);
    for (double value : output) {
        EXPECT_NEAR(value, 3.0, 1e-9);
    }
}

TEST(SpectrumReduce, OnePointIsTheBandAroundTheLowFrequency) {
    std::vector<float> input(Reduction::kBins, 0.0f);
    input[100] = 8.0f; // inside 50 * sqrt(40) = 316 Hz half-width around 50 Hz
    input[1000] = 1000.0f;
    double output = -1.0;
    smoothLogXScale(input.data(), Reduction::kBins, &output, 1, fourCC("peak"), Reduction::kLastBin,
                    Reduction::kLow, Reduction::kHigh, 1.0 / 3.0);
    EXPECT_EQ(output, 8.0);
}

TEST(SpectrumReduce, BandsAboveTheLastBinStayInsideTheInput) {
    std::vector<float> input(64, 1.0f);
    std::vector<double> output(100);
    smoothLogXScale(input.data(), 64, output.data(), 100, fourCC("pink"), 6300.0, 20.0, 40000.0,
                    1.0 / 3.0);
    for (double value : output) {
        EXPECT_TRUE(std::isfinite(value));
    }
}

} // namespace
