#include "engine/KOAD.h"
#include "engine/ReaderThreads.h"
#include "platform/audio/DeviceRegistry.h"
#include "platform/fourcc/FourCC.h"
#include "spl/KOSPLData.h"
#include "spl/KOSplInstrument.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <future>
#include <memory>
#include <numbers>
#include <string>
#include <vector>

using koru::platform::DeviceRegistry;
using koru::platform::fourCC;
using koru::platform::VirtualInputConfig;
using koru::platform::VirtualSignal;

namespace {

constexpr std::uint32_t kBufferFrames = 1024;

// The four-character code of a table entry's text.
std::uint32_t code(const char* text) {
    return std::uint32_t(std::uint8_t(text[0])) << 24 | std::uint32_t(std::uint8_t(text[1])) << 16 |
           std::uint32_t(std::uint8_t(text[2])) << 8 | std::uint32_t(std::uint8_t(text[3]));
}

// A sine of amplitude a reads 10·log10(4·a²): its mean square a²/2 plus 9.03 dB, from the
// forward transform's factor 2 and the power scale 2/N over a unit-RMS Hann window.
double expectedLevel(double amplitude, double weightingPower) {
    return 10.0 * std::log10(4.0 * amplitude * amplitude * weightingPower);
}

double weightingPower(std::uint32_t weighting, double f) {
    if (weighting == fourCC("b_wt"))
        return b_weighting_power(f);
    if (weighting == fourCC("c_wt"))
        return c_weighting_power(f);
    return a_weighting_power(f);
}

// An engine on a manually pumped virtual device with an SPL instrument on its second channel;
// the first channel stays silent, so a wrong channel shows as minus infinity.
class Rig {
public:
    Rig(double rate, VirtualSignal signal, std::uint32_t speed, std::uint32_t weighting) {
        VirtualInputConfig config;
        config.name = QStringLiteral("SPL Test");
        config.channels = 2;
        config.sampleRate = rate;
        config.channelSignals = {VirtualSignal::silence(), signal};
        config.manual = true;
        mDevice = registry.addVirtualInput(config);
        engine = std::make_unique<KOAD>(mDevice, kBufferFrames);
        engine->Start();
        // The meter passes its rate's whole part as the first size, which is never accepted.
        instrument =
            std::make_unique<KOSplInstrument>(std::uint32_t(rate), speed, weighting, 44100.0);
        engine->AddClient(instrument.get());
        instrument->SetChannel(1);
    }
    ~Rig() {
        instrument.reset();
        engine.reset();
        registry.removeDevice(mDevice);
    }

    void pump(std::uint32_t buffers) {
        for (std::uint32_t i = 0; i < buffers; ++i)
            ASSERT_TRUE(registry.virtualInput(mDevice)->pump(kBufferFrames));
    }
    // Pumps until the instrument has counted `spectra` since its size was set.
    float levelAfter(std::uint32_t spectra) {
        for (int i = 0; i < 4096 && instrument->Analyses() < spectra; ++i)
            pump(1);
        EXPECT_GE(instrument->Analyses(), spectra);
        return instrument->GetLevel();
    }
    void setRate(double rate) { ASSERT_EQ(registry.setNominalSampleRate(mDevice, rate), noErr); }

    DeviceRegistry& registry = DeviceRegistry::shared();
    std::unique_ptr<KOAD> engine;
    std::unique_ptr<KOSplInstrument> instrument;
    std::uint32_t mDevice = 0;
};

// Feeds a sine straight into an instrument, for tests that need no engine.
class SineFeeder {
public:
    SineFeeder(double frequency, double amplitude, double rate)
        : mFrequency(frequency), mAmplitude(amplitude), mRate(rate), mSamples(kBufferFrames) {}

    void feed(KOSplInstrument& instrument, std::uint32_t buffers = 1) {
        for (std::uint32_t b = 0; b < buffers; ++b) {
            for (float& sample : mSamples) {
                sample = float(mAmplitude * std::sin(2.0 * std::numbers::pi * mFrequency *
                                                     double(mFrame) / mRate));
                ++mFrame;
            }
            AudioBuffer buffer{1, kBufferFrames * 4, mSamples.data()};
            const AudioBufferList list{1, &buffer};
            instrument.Process(&list, kBufferFrames);
        }
    }
    void feedUntil(KOSplInstrument& instrument, std::uint32_t spectra) {
        while (instrument.Analyses() < spectra)
            feed(instrument);
    }

private:
    double mFrequency;
    double mAmplitude;
    double mRate;
    std::vector<float> mSamples;
    std::uint64_t mFrame = 0;
};

} // namespace

TEST(KOSplInstrument, SizeFollowsSpeedAndRate) {
    struct Case {
        const char* speed;
        double rate;
        std::uint32_t size;
    };
    const Case cases[] = {
        {"slow", 44100.0, 65536},  {"slow", 50000.0, 65536},   {"slow", 50001.0, 131072},
        {"slow", 96000.0, 131072}, {"slow", 100000.0, 131072}, {"slow", 192000.0, 262144},
        {"fast", 44100.0, 8192},   {"fast", 48000.0, 8192},    {"fast", 88200.0, 16384},
        {"fast", 100001.0, 32768}, {"expo", 44100.0, 8192},    {"SLOW", 96000.0, 16384},
    };
    for (const Case& c : cases)
        EXPECT_EQ(KOSplInstrument::FFTSizeFor(code(c.speed), c.rate), c.size)
            << c.speed << " " << c.rate;
}

// Without a host the instrument assumes 44.1 kHz, whatever first size it was given.
TEST(KOSplInstrument, ConstructionAppliesTheSpeed) {
    struct Case {
        std::uint32_t initialSize;
        const char* speed;
        std::uint32_t size;
    };
    const Case cases[] = {
        {44100, "slow", 65536}, {16384, "slow", 65536}, {48000, "fast", 8192}, {0, "fast", 8192}};
    for (const Case& c : cases) {
        const KOSplInstrument instrument(c.initialSize, code(c.speed), fourCC("c_wt"), 44100.0);
        EXPECT_EQ(instrument.FFTSize(), c.size) << c.initialSize;
        EXPECT_EQ(instrument.HopFrames(), c.size / 8);
        EXPECT_EQ(instrument.Speed(), code(c.speed));
        EXPECT_EQ(instrument.SampleRate(), 44100.0);
        EXPECT_TRUE(instrument.SquaredMagnitudes());
        EXPECT_EQ(instrument.WindowType(), fourCC("hann"));
    }
    KOSplInstrument instrument(44100, fourCC("slow"), fourCC("b_wt"), 44100.0);
    EXPECT_EQ(instrument.Weighting(), fourCC("b_wt"));
}

// A sine of known amplitude through device, engine and instrument reads the weighting formula
// at its frequency. Tolerances: 'fast' spreads a low tone's leakage over bins of other weight.
TEST(KOSplInstrument, WeightedLevelsOfSinesThroughTheEngine) {
    struct Case {
        const char* speed;
        const char* weighting;
        double frequency;
        double amplitude;
        double tolerance;
    };
    const Case cases[] = {
        {"fast", "a_wt", 1000.0, 0.5, 0.02},  {"fast", "a_wt", 1000.0, 1.0, 0.02},
        {"fast", "c_wt", 1000.0, 0.1, 0.02},  {"fast", "a_wt", 100.0, 0.5, 0.05},
        {"fast", "a_wt", 50.0, 0.5, 0.15},    {"fast", "a_wt", 4000.0, 0.5, 0.05},
        {"fast", "a_wt", 16000.0, 0.5, 0.05}, {"fast", "b_wt", 100.0, 0.5, 0.05},
        {"fast", "b_wt", 10000.0, 0.5, 0.05}, {"fast", "c_wt", 63.0, 0.5, 0.15},
        {"fast", "c_wt", 20000.0, 0.5, 0.05}, {"slow", "a_wt", 1000.0, 0.5, 0.02},
        {"slow", "a_wt", 20.0, 0.5, 0.2},     {"slow", "b_wt", 31.5, 0.5, 0.2},
        {"slow", "c_wt", 12.5, 0.5, 0.2},     {"slow", "a_wt", 12500.0, 0.5, 0.05},
    };
    for (const Case& c : cases) {
        Rig rig(48000.0, VirtualSignal::sine(c.frequency, float(c.amplitude)), code(c.speed),
                code(c.weighting));
        const double expected =
            expectedLevel(c.amplitude, weightingPower(code(c.weighting), c.frequency));
        EXPECT_NEAR(rig.levelAfter(2), expected, c.tolerance)
            << c.speed << " " << c.weighting << " " << c.frequency << " Hz, " << c.amplitude;
    }
}

// At 1 kHz all three weightings are unity: the absolute scale is the unweighted one, +6.02 dB
// for a full-scale sine.
TEST(KOSplInstrument, OneKilohertzReadsTheSameInEveryWeighting) {
    Rig rig(48000.0, VirtualSignal::sine(1000.0, 1.0f), fourCC("fast"), fourCC("a_wt"));
    const float a = rig.levelAfter(2);
    EXPECT_NEAR(a, 6.021, 0.02);
    for (const char* weighting : {"b_wt", "c_wt"}) {
        rig.instrument->SetWeighting(code(weighting));
        rig.pump(1);
        EXPECT_NEAR(rig.instrument->GetLevel(), a, 0.005) << weighting;
    }
}

// 'slow' and 'fast' are window lengths: N per rate, a spectrum every N/8 frames once the first
// window after a size change is full (at 2N frames).
TEST(KOSplInstrument, SpectrumTimingPerSpeedAndRate) {
    struct Case {
        double rate;
        const char* speed;
        std::uint32_t size;
    };
    const Case cases[] = {{44100.0, "slow", 65536},
                          {44100.0, "fast", 8192},
                          {48000.0, "slow", 65536},
                          {96000.0, "fast", 16384},
                          {96000.0, "slow", 131072}};
    for (const Case& c : cases) {
        Rig rig(c.rate, VirtualSignal::sine(1000.0, 0.5f), code(c.speed), fourCC("a_wt"));
        const std::string label = std::string(c.speed) + " " + std::to_string(c.rate);
        EXPECT_EQ(rig.instrument->FFTSize(), c.size) << label;
        EXPECT_EQ(rig.instrument->SampleRate(), c.rate) << label;
        const std::uint32_t hopBuffers = c.size / 8 / kBufferFrames;
        rig.pump(2 * c.size / kBufferFrames - 1);
        EXPECT_EQ(rig.instrument->Analyses(), 0u) << label;
        rig.pump(1);
        EXPECT_EQ(rig.instrument->Analyses(), 1u) << label;
        rig.pump(hopBuffers - 1);
        EXPECT_EQ(rig.instrument->Analyses(), 1u) << label;
        rig.pump(1);
        EXPECT_EQ(rig.instrument->Analyses(), 2u) << label;
        EXPECT_NEAR(rig.instrument->GetLevel(), expectedLevel(0.5, a_weighting_power(1000.0)), 0.02)
            << label;
    }
}

// A rate change rebuilds size and table together: the meter keeps weighting, at the new size,
// and a change that keeps the size still moves the table's bin frequencies.
TEST(KOSplInstrument, RateChangeKeepsTheWeighting) {
    struct Case {
        double from;
        double to;
        const char* speed;
        std::uint32_t size;
    };
    const Case cases[] = {{48000.0, 96000.0, "fast", 16384},
                          {44100.0, 48000.0, "fast", 8192},
                          {96000.0, 44100.0, "slow", 65536}};
    for (const Case& c : cases) {
        Rig rig(c.from, VirtualSignal::sine(100.0, 0.5f), code(c.speed), fourCC("a_wt"));
        const double expected = expectedLevel(0.5, a_weighting_power(100.0));
        EXPECT_NEAR(rig.levelAfter(1), expected, 0.05) << c.from;

        rig.setRate(c.to);
        EXPECT_EQ(rig.instrument->FFTSize(), c.size) << c.to;
        EXPECT_EQ(rig.instrument->SampleRate(), c.to);
        EXPECT_EQ(rig.instrument->Weighting(), fourCC("a_wt"));
        // Past the spectra of the old rate's samples.
        const std::uint32_t spectra = rig.instrument->Analyses() + 9;
        EXPECT_NEAR(rig.levelAfter(spectra), expected, 0.05) << c.from << " -> " << c.to;
    }
}

// The controller's path: told the new rate without a host, the instrument resizes too, up to
// the 262144 points 'slow' needs above 100 kHz.
TEST(KOSplInstrument, SampleRateChangedResizesWithTheTable) {
    KOSplInstrument instrument(44100, fourCC("slow"), fourCC("a_wt"), 44100.0);
    instrument.SampleRateChanged(192000.0);
    EXPECT_EQ(instrument.FFTSize(), 262144u);
    EXPECT_EQ(instrument.SampleRate(), 192000.0);
    SineFeeder feeder(1000.0, 0.5, 192000.0);
    feeder.feedUntil(instrument, 1);
    EXPECT_NEAR(instrument.GetLevel(), expectedLevel(0.5, a_weighting_power(1000.0)), 0.02);

    instrument.SampleRateChanged(48000.0);
    EXPECT_EQ(instrument.FFTSize(), 65536u);
    SineFeeder lower(100.0, 0.5, 48000.0);
    lower.feedUntil(instrument, 1);
    EXPECT_NEAR(instrument.GetLevel(), expectedLevel(0.5, a_weighting_power(100.0)), 0.05);
}

TEST(KOSplInstrument, LevelIsCachedUntilTheNextSpectrum) {
    KOSplInstrument instrument(0, fourCC("fast"), fourCC("a_wt"), 44100.0);
    SineFeeder feeder(1000.0, 0.5, 44100.0);
    feeder.feedUntil(instrument, 1);
    ASSERT_TRUE(instrument.HasNewData());
    const float first = instrument.GetLevel();
    EXPECT_FALSE(instrument.HasNewData());
    EXPECT_EQ(instrument.GetLevel(), first);
    EXPECT_EQ(instrument.GetLevel(), first);
    // A weighting chosen now applies from the next spectrum on.
    instrument.SetWeighting(fourCC("c_wt"));
    EXPECT_EQ(instrument.GetLevel(), first);
    feeder.feed(instrument);
    EXPECT_TRUE(instrument.HasNewData());
    EXPECT_NEAR(instrument.GetLevel(), expectedLevel(0.5, c_weighting_power(1000.0)), 0.02);
}

TEST(KOSplInstrument, SilenceReadsMinusInfinity) {
    KOSplInstrument instrument(0, fourCC("fast"), fourCC("a_wt"), 44100.0);
    SineFeeder feeder(1000.0, 0.0, 44100.0);
    feeder.feedUntil(instrument, 1);
    const float level = instrument.GetLevel();
    EXPECT_TRUE(std::isinf(level) && level < 0.0f) << level;
}

TEST(KOSplInstrument, UnknownWeightingFallsBackToA) {
    KOSplInstrument instrument(0, fourCC("fast"), fourCC("c_wt"), 44100.0);
    testing::internal::CaptureStdout();
    instrument.SetWeighting(fourCC("z_wt"));
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "\nInvalid weighting type \"2053076852\" specified - Using A-Weighting instead!\n");
    EXPECT_EQ(instrument.Weighting(), fourCC("a_wt"));
    SineFeeder feeder(100.0, 0.5, 44100.0);
    feeder.feedUntil(instrument, 1);
    EXPECT_NEAR(instrument.GetLevel(), expectedLevel(0.5, a_weighting_power(100.0)), 0.05);
}

// The collector and a calibration on the main thread may ask for the same new spectrum at
// once: it is weighted exactly once, never twice (which would read about 19 dB low for an
// A-weighted 100 Hz tone), and both get the same level.
TEST(KOSplInstrument, ConcurrentReadersNeverWeightTwice) {
    KOSplInstrument instrument(0, fourCC("fast"), fourCC("a_wt"), 44100.0);
    SineFeeder feeder(100.0, 0.5, 44100.0);
    feeder.feedUntil(instrument, 1);
    const double expected = expectedLevel(0.5, a_weighting_power(100.0));
    for (int round = 0; round < 200; ++round) {
        feeder.feed(instrument);
        ASSERT_TRUE(instrument.HasNewData());
        std::atomic<int> ready{0};
        auto reader = [&] {
            ++ready;
            while (ready.load() < 2) {
            }
            return instrument.GetLevel();
        };
        auto collector = std::async(std::launch::async, reader);
        auto main = std::async(std::launch::async, reader);
        const float a = collector.get();
        const float b = main.get();
        ASSERT_NEAR(a, expected, 0.05) << "round " << round;
        ASSERT_EQ(a, b) << "round " << round;
    }
}

// The road of one value: instrument level, calibration offset, statistics.
TEST(KOSplInstrument, LevelsFeedTheStatistics) {
    Rig rig(48000.0, VirtualSignal::sine(1000.0, 0.5f), fourCC("fast"), fourCC("a_wt"));
    constexpr float kCalibration = 100.0f;
    KOSPLData data;
    data.SetTargetCount(50);
    rig.levelAfter(5);
    for (int i = 0; i < 20; ++i) {
        rig.pump(1);
        data.Add(rig.instrument->GetLevel() + kCalibration);
    }
    const double expected = expectedLevel(0.5, a_weighting_power(1000.0)) + kCalibration;
    EXPECT_EQ(data.Count(), 20u);
    EXPECT_NEAR(data.Current(), expected, 0.02);
    EXPECT_NEAR(data.Leq(), expected, 0.02);
    EXPECT_NEAR(data.Avg(), expected, 0.02);
    EXPECT_NEAR(data.PredictedLeq(), expected, 0.02);
}

// Readers asking for levels (collector and calibration) and spectra as fast as they can, at least
// once between any two blocks, never cost the audio thread a block, across a rate change too:
// every delivered frame is analysed, every hop gives a spectrum, and every level read is the
// weighted one (an A-weighted 100 Hz tone reads 19 dB below its unweighted level) or, before the
// first spectrum, the initial 0.
TEST(KOSplInstrument, ReadersCostNoBlockAcrossARateChange) {
    struct Case {
        double from;
        double to; // 0: no change
        std::uint32_t sizeAfter;
    };
    const Case cases[] = {{48000.0, 0.0, 8192}, {48000.0, 96000.0, 16384}};
    constexpr std::uint32_t kBlocks = 150;
    for (const Case& c : cases) {
        Rig rig(c.from, VirtualSignal::sine(100.0, 0.25f), fourCC("fast"), fourCC("a_wt"));
        const double expected = expectedLevel(0.25, a_weighting_power(100.0));
        koru::test::ReaderThreads readers(3, [&](int thread) {
            if (thread == 2) {
                KOFloatBuffer spectrum(rig.instrument->FFTSize() / 2);
                rig.instrument->Collect(spectrum);
                return true;
            }
            const float level = rig.instrument->GetLevel();
            return level == 0.0f || std::abs(level - expected) < 0.05;
        });
        const auto play = [&](std::uint32_t blocks) {
            for (std::uint32_t block = 0; block < blocks; ++block) {
                rig.pump(1);
                ASSERT_TRUE(readers.waitForEachThread()) << "block " << block;
            }
        };
        play(kBlocks);
        if (c.to != 0.0)
            rig.setRate(c.to);
        play(kBlocks);
        readers.stop();

        EXPECT_EQ(readers.failures(), 0u) << c.to << ", of " << readers.reads();
        EXPECT_EQ(rig.instrument->FFTSize(), c.sizeAfter);
        EXPECT_EQ(rig.instrument->FramesReceived(), 2u * kBlocks * kBufferFrames) << c.to;
        EXPECT_EQ(rig.instrument->FramesAnalysed(), 2u * kBlocks * kBufferFrames) << c.to;
        // Counted since the last size change: all the blocks, or those after the rate change.
        const std::uint32_t frames = (c.to != 0.0 ? 1 : 2) * kBlocks * kBufferFrames;
        EXPECT_EQ(rig.instrument->Analyses(), (frames - 2 * c.sizeAfter) / (c.sizeAfter / 8) + 1)
            << c.to;
        rig.pump(c.sizeAfter / 8 / kBufferFrames);
        EXPECT_NEAR(rig.instrument->GetLevel(), expected, 0.05) << c.to;
    }
}

TEST(KOSplInstrument, DestructionLeavesTheEngine) {
    Rig rig(48000.0, VirtualSignal::sine(1000.0, 0.5f), fourCC("fast"), fourCC("a_wt"));
    const std::size_t clients = rig.engine->NumberOfClients();
    rig.pump(4);
    testing::internal::CaptureStdout();
    rig.instrument.reset();
    const std::string printed = testing::internal::GetCapturedStdout();
    EXPECT_EQ(rig.engine->NumberOfClients(), clients - 1);
    // Removed once, not again by the analyser underneath.
    ASSERT_NE(printed.find("Removing Input Client"), std::string::npos);
    EXPECT_EQ(printed.find("Removing Input Client"), printed.rfind("Removing Input Client"));
    rig.pump(4);
}
