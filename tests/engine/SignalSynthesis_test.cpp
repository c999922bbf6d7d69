#include "engine/SignalSynthesis.h"

#include <gtest/gtest.h>

#include <atomic>
#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <numbers>
#include <thread>
#include <vector>

using koru::SignalSynthesis;

namespace {

// The noise generator as published: a 32-bit linear congruential sequence.
std::uint32_t next(std::uint32_t seed) {
    return std::uint32_t(std::uint64_t(seed) * 100719801u + 770702777u);
}

// Renders `frames` frames in buffers of `block` and answers the left channel, checking that the
// right one is the same.
std::vector<float> renderLeft(SignalSynthesis& synthesis, std::size_t frames,
                              std::uint32_t block = 1024) {
    std::vector<float> left;
    std::vector<float> a(block);
    std::vector<float> b(block);
    while (left.size() < frames) {
        const auto n = std::uint32_t(std::min<std::size_t>(block, frames - left.size()));
        float* channels[2] = {a.data(), b.data()};
        synthesis.render(channels, n);
        for (std::uint32_t i = 0; i < n; ++i) {
            EXPECT_EQ(a[i], b[i]) << i;
        }
        left.insert(left.end(), a.begin(), a.begin() + n);
    }
    return left;
}

class SignalSynthesisTest : public ::testing::Test {
protected:
    void SetUp() override {
        SignalSynthesis::setNoiseSeed(SignalSynthesis::kInitialSeed);
        synthesis.setSampleRate(48000.0);
    }
    SignalSynthesis synthesis;
};

} // namespace

TEST_F(SignalSynthesisTest, WhiteNoiseFollowsTheSharedSequenceAcrossBuffersAndGenerators) {
    synthesis.setSignalType(SignalSynthesis::WhiteNoise);
    synthesis.setAmplitude(0.5f);
    SignalSynthesis other;
    other.setSignalType(SignalSynthesis::WhiteNoise);

    const std::vector<float> first = renderLeft(synthesis, 1500, 512);
    const std::vector<float> second = renderLeft(other, 100); // draws on where the first stopped

    std::uint32_t seed = 424242;
    for (std::size_t i = 0; i < first.size(); ++i) {
        seed = next(seed);
        ASSERT_EQ(first[i], float(std::int32_t(seed)) * 0.5f * 4.656613e-10f) << i;
    }
    for (std::size_t i = 0; i < second.size(); ++i) {
        seed = next(seed);
        ASSERT_EQ(second[i], float(std::int32_t(seed)) * 1.0f * 4.656613e-10f) << i;
    }
    EXPECT_EQ(SignalSynthesis::noiseSeed(), seed);
}

// Eight rows of random values; after each new sample index (modulo 256) the row of its lowest
// set bit is drawn anew, and every sample adds one more fresh value.
TEST_F(SignalSynthesisTest, PinkNoiseIsTheSumOfEightRowsAndAFreshValue) {
    synthesis.setSignalType(SignalSynthesis::PinkNoise);
    synthesis.setAmplitude(0.8f);
    const std::size_t frames = 3000; // wraps the 256-step counter several times
    const std::vector<float> rendered = renderLeft(synthesis, frames, 700);

    std::int32_t rows[8] = {};
    std::uint32_t seed = 424242;
    unsigned counter = 0;
    for (std::size_t i = 0; i < frames; ++i) {
        counter = (counter + 1) % 256;
        if (counter != 0) {
            int row = 0;
            while (((counter >> row) & 1u) == 0) {
                ++row;
            }
            seed = next(seed);
            rows[row] = std::int32_t(seed) / 256 - (std::int32_t(seed) % 256 < 0 ? 1 : 0);
        }
        seed = next(seed);
        std::int64_t sum = std::int32_t(seed) / 256 - (std::int32_t(seed) % 256 < 0 ? 1 : 0);
        for (const std::int32_t r : rows) {
            sum += r;
        }
        const float expected = float(sum) * (1.0f / 75497472.0f) * 0.8f;
        ASSERT_EQ(rendered[i], expected) << i;
    }
    // Nine values of at most 2^23 each, scaled by 1 / (9 · 2^23): never beyond full scale.
    for (const float v : rendered) {
        ASSERT_LE(std::fabs(v), 0.8f);
    }
}

TEST_F(SignalSynthesisTest, TheSinePhaseIsTheRunningSampleCount) {
    synthesis.setAmplitude(0.5f);
    std::vector<float> rendered = renderLeft(synthesis, 1000, 256);
    synthesis.setFrequency(2000.0f); // applies to the running count: the phase jumps
    const std::vector<float> after = renderLeft(synthesis, 1000, 256);
    rendered.insert(rendered.end(), after.begin(), after.end());
    for (std::size_t n = 0; n < rendered.size(); ++n) {
        const double f = n < 1000 ? 1000.0 : 2000.0;
        const double expected = 0.5 * std::sin(2.0 * std::numbers::pi * f * double(n) / 48000.0);
        ASSERT_NEAR(rendered[n], expected, 1e-6) << n;
    }
}

// With the defaults, 10 Hz times 1.00001 per sample passes 20 kHz after ln(2000) / ln(1.00001),
// about 7.6 · 10^5 samples (17.2 s at 44.1 kHz), and starts again at 10 Hz.
TEST_F(SignalSynthesisTest, TheSweepRisesLogarithmicallyAndRestartsAtTheLowBound) {
    synthesis.setSampleRate(44100.0);
    synthesis.setSignalType(SignalSynthesis::Sweep);
    const std::vector<float> rendered = renderLeft(synthesis, 800000);
    // Zero crossings come every half period: every ~1.1 samples near 20 kHz, every 2205 at 10 Hz.
    std::vector<std::size_t> crossings;
    for (std::size_t i = 1; i < rendered.size(); ++i) {
        if ((rendered[i - 1] < 0.0f) != (rendered[i] < 0.0f)) {
            crossings.push_back(i);
        }
    }
    std::size_t restart = 0;
    for (std::size_t k = 1; k < crossings.size(); ++k) {
        if (crossings[k - 1] > 100000 && crossings[k] - crossings[k - 1] > 1000) {
            restart = crossings[k - 1];
            break;
        }
    }
    const double expected = std::log(2000.0) / std::log(1.00001);
    EXPECT_NEAR(double(restart), expected, 0.002 * expected);
    // Halfway in time the frequency is the geometric mean of the bounds, about 447 Hz.
    const std::size_t middle = std::size_t(expected / 2);
    const std::vector<float> slice(rendered.begin() + std::ptrdiff_t(middle) - 2205,
                                   rendered.begin() + std::ptrdiff_t(middle) + 2205);
    int changes = 0;
    for (std::size_t i = 1; i < slice.size(); ++i) {
        changes += (slice[i - 1] < 0.0f) != (slice[i] < 0.0f);
    }
    EXPECT_NEAR(changes / 2.0 / 0.1, std::sqrt(10.0 * 20000.0), 15.0);
}

// A sweep over 1 kHz to 2 kHz sweeps over that range from its first sample, not up from the
// 10 Hz it starts out with; raising the low bound mid-sweep moves the sweep up at once.
TEST_F(SignalSynthesisTest, TheSweepStaysWithinItsRange) {
    synthesis.setSignalType(SignalSynthesis::Sweep);
    synthesis.setSweepBounds(1000.0f, 2000.0f);
    const auto rateOver = [&](std::size_t frames) {
        const std::vector<float> x = renderLeft(synthesis, frames);
        int changes = 0;
        for (std::size_t i = 1; i < x.size(); ++i) {
            changes += (x[i - 1] < 0.0f) != (x[i] < 0.0f);
        }
        return changes / 2.0 * 48000.0 / double(frames);
    };
    // 1.00001 per sample raises it by 4.9 % in 0.1 s: 1024 Hz on average.
    EXPECT_NEAR(rateOver(4800), 1024.0, 15.0);
    synthesis.setSweepBounds(5000.0f, 8000.0f);
    EXPECT_NEAR(rateOver(4800), 5122.0, 30.0);
}

TEST_F(SignalSynthesisTest, FrequenciesAreKeptBetweenTenHertzAndNyquist) {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    struct Case {
        float given;
        float kept;
    };
    for (const Case c :
         {Case{5.0f, 10.0f}, Case{30000.0f, 24000.0f}, Case{1000.0f, 1000.0f}, Case{10.0f, 10.0f},
          Case{24000.0f, 24000.0f}, Case{-3.0f, 10.0f}, Case{nan, 10.0f}}) {
        synthesis.setFrequency(c.given);
        EXPECT_EQ(synthesis.frequency(), c.kept) << c.given;
    }

    struct Bounds {
        float a, b, low, high;
    };
    for (const Bounds c :
         {Bounds{20000.0f, 100.0f, 100.0f, 20000.0f}, Bounds{5.0f, 30000.0f, 10.0f, 24000.0f},
          Bounds{0.0f, 0.0f, 10.0f, 0.0f}, // the high bound has no lower limit
          Bounds{30000.0f, 25000.0f, 24000.0f, 24000.0f}}) {
        synthesis.setSweepBounds(c.a, c.b);
        EXPECT_EQ(synthesis.sweepLow(), c.low) << c.a << " " << c.b;
        EXPECT_EQ(synthesis.sweepHigh(), c.high) << c.a << " " << c.b;
    }

    // A lower engine rate pulls settings above its Nyquist frequency down with it.
    synthesis.setFrequency(20000.0f);
    synthesis.setSweepBounds(100.0f, 20000.0f);
    synthesis.setSampleRate(32000.0);
    EXPECT_EQ(synthesis.frequency(), 16000.0f);
    EXPECT_EQ(synthesis.sweepHigh(), 16000.0f);
    EXPECT_EQ(synthesis.sweepLow(), 100.0f);
}

TEST_F(SignalSynthesisTest, SweepSpeedIsTheFactorsDistanceFromOneInTenThousandths) {
    EXPECT_EQ(synthesis.sweepFactor(), 1.00001);
    EXPECT_NEAR(synthesis.sweepSpeed(), 0.1f, 1e-3f);
    synthesis.setSweepSpeed(2.5f);
    EXPECT_DOUBLE_EQ(synthesis.sweepFactor(), 1.00025);
    EXPECT_NEAR(synthesis.sweepSpeed(), 2.5f, 1e-3f);
    synthesis.setSweepSpeed(0.0f); // a missing setting: the sweep stays at its low bound
    EXPECT_EQ(synthesis.sweepFactor(), 1.0);
    synthesis.setSweepSpeed(std::numeric_limits<float>::infinity());
    EXPECT_EQ(synthesis.sweepFactor(), 1.0);
}

// Muted, or told a type that names no signal (a damaged session), the buffers hold exact zeros,
// whatever they held before, and the noise sequence does not move.
TEST_F(SignalSynthesisTest, MuteAndUnknownTypesGiveExactZeros) {
    struct Case {
        std::int32_t type;
        bool mute;
    };
    const Case cases[] = {{SignalSynthesis::Sine, true},
                          {SignalSynthesis::Sweep, true},
                          {SignalSynthesis::PinkNoise, true},
                          {SignalSynthesis::WhiteNoise, true},
                          {4, false},
                          {-1, false},
                          {std::numeric_limits<std::int32_t>::max(), false}};
    for (const Case& c : cases) {
        synthesis.setSignalType(c.type);
        synthesis.setMute(c.mute);
        const std::uint32_t seed = SignalSynthesis::noiseSeed();
        std::vector<float> left(512, 0.7f);
        std::vector<float> right(512, -0.7f);
        float* channels[2] = {left.data(), right.data()};
        synthesis.render(channels, 512);
        for (std::size_t i = 0; i < 512; ++i) {
            ASSERT_EQ(std::bit_cast<std::uint32_t>(left[i]), 0u) << c.type << " " << i;
            ASSERT_EQ(std::bit_cast<std::uint32_t>(right[i]), 0u) << c.type << " " << i;
        }
        EXPECT_EQ(SignalSynthesis::noiseSeed(), seed) << c.type;
    }
    synthesis.setMute(false);
    synthesis.setSignalType(SignalSynthesis::WhiteNoise);
    EXPECT_NE(renderLeft(synthesis, 4)[0], 0.0f);
}

// The window's setters run while the speakers' thread renders, and two generators draw on the
// shared seed from two threads: every value read is one that was written (the thread checker of
// the sanitizer build sees any unguarded field).
TEST_F(SignalSynthesisTest, SettingsChangeWhileAnotherThreadRenders) {
    SignalSynthesis other;
    other.setSignalType(SignalSynthesis::WhiteNoise);
    std::atomic<bool> stop{false};
    std::atomic<int> buffers{0};
    std::atomic<bool> outOfRange{false};
    std::thread speakers([&] {
        std::vector<float> left(256);
        std::vector<float> right(256);
        float* channels[2] = {left.data(), right.data()};
        while (!stop.load()) {
            synthesis.render(channels, 256);
            other.render(channels, 256);
            for (const float v : left) {
                if (!(std::fabs(v) <= 1.0f)) {
                    outOfRange.store(true);
                }
            }
            buffers.fetch_add(1);
        }
    });
    for (int i = 0; i < 2000 || buffers.load() < 50; ++i) {
        synthesis.setSignalType(i % 4);
        synthesis.setFrequency(float(100 + i));
        synthesis.setAmplitude(float(i % 10) / 10.0f);
        synthesis.setSweepBounds(20.0f, float(1000 + i));
        synthesis.setSweepSpeed(float(i % 7));
        synthesis.setMute(i % 5 == 0);
    }
    stop.store(true);
    speakers.join();
    EXPECT_FALSE(outOfRange.load());
}
