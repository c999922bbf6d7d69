#include "MeterTestSignals.h"

#include "meters/KOGoniometerInstrument.h"
#include "meters/KOLevelIntegrator.h"
#include "meters/KOMeterMath.h"
#include "meters/KOOscilloscopeInstrument.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <random>

namespace {

std::vector<float> sine(std::uint32_t frames, double cycles, float amplitude, double phase = 0.0) {
    std::vector<float> x(frames);
    for (std::uint32_t i = 0; i < frames; ++i) {
        x[i] = amplitude *
               float(std::sin(2.0 * std::numbers::pi * cycles * double(i) / frames + phase));
    }
    return x;
}

// ---- goniometer ------------------------------------------------------------------------------

TEST(KOGoniometerInstrument, CorrelationOfEqualInvertedAndUncorrelatedChannels) {
    std::mt19937 random(7);
    std::normal_distribution<float> noise(0.0f, 0.3f);
    std::vector<float> a(1024), b(1024);
    for (std::size_t i = 0; i < a.size(); ++i) {
        a[i] = noise(random);
        b[i] = noise(random);
    }
    std::vector<float> inverted(a.size());
    for (std::size_t i = 0; i < a.size(); ++i) {
        inverted[i] = -0.5f * a[i];
    }
    struct Case {
        const char* name;
        std::vector<float> right;
        float expected;
        float tolerance;
    };
    const Case cases[] = {
        {"equal", a, 1.0f, 1e-6f},
        {"inverted and quieter", inverted, -1.0f, 1e-6f},
        {"uncorrelated", b, 0.0f, 0.1f},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        KOGoniometerInstrument instrument;
        instrument.SetNumberOfChannels(2);
        instrument.SetChannelA(0);
        instrument.SetChannelB(1);
        PlanarBlock block({a, c.right});
        instrument.Process(&block.list, block.frames());
        ASSERT_TRUE(instrument.HasNewData());
        KOGoniometerInstrument::Block out;
        ASSERT_TRUE(instrument.Collect(out));
        EXPECT_FALSE(instrument.HasNewData());
        ASSERT_EQ(out.frames, 1024u);
        EXPECT_EQ(out.a[17], a[17]);
        EXPECT_EQ(out.b[1000], c.right[1000]);
        const float correlation =
            KOGoniometerInstrument::Correlation(out.a.data(), out.b.data(), out.frames);
        EXPECT_NEAR(correlation, c.expected, c.tolerance);
        EXPECT_GE(correlation, -1.0f);
        EXPECT_LE(correlation, 1.0f);
        EXPECT_FALSE(instrument.Collect(out)) << "nothing new was delivered";
    }
}

TEST(KOGoniometerInstrument, SilenceHasNoCorrelationAndStaleChannelsAreSkipped) {
    const std::vector<float> silence(512, 0.0f);
    const std::vector<float> tone = sine(512, 4, 0.5f);
    EXPECT_TRUE(std::isnan(KOGoniometerInstrument::Correlation(silence.data(), tone.data(), 512)));
    EXPECT_TRUE(std::isnan(KOGoniometerInstrument::Correlation(tone.data(), silence.data(), 512)));

    KOGoniometerInstrument instrument;
    instrument.SetChannelA(0);
    instrument.SetChannelB(5); // a selection the buffer list no longer has
    PlanarBlock block({tone, tone});
    instrument.Process(&block.list, block.frames());
    EXPECT_FALSE(instrument.HasNewData());
    EXPECT_EQ(instrument.FramesReceived(), 512u);
    EXPECT_EQ(instrument.FramesAnalysed(), 0u);
}

TEST(KOGoniometerInstrument, GainAttacksAtOnceReleasesSlowlyAndIsNeverDrawnAsZero) {
    // A loud block pulls the gain down at once.
    EXPECT_FLOAT_EQ(KOGoniometerInstrument::NextGain(4.0f, 1.0f), 1.0f / 1.2f);
    // A quiet block lets it grow by a step only.
    EXPECT_FLOAT_EQ(KOGoniometerInstrument::NextGain(1.0f, 0.01f), 1.02f * 1.05f);
    // Silence is bounded by the 1e-4 floor, never infinite.
    EXPECT_TRUE(std::isfinite(KOGoniometerInstrument::NextGain(1e9f, 0.0f)));
    EXPECT_FLOAT_EQ(KOGoniometerInstrument::DrawnGain(1.3f), 1.0f);
    EXPECT_FLOAT_EQ(KOGoniometerInstrument::DrawnGain(2.9f), 2.5f);
    // A source above full scale would step to zero and collapse to the centre.
    const float loud = KOGoniometerInstrument::NextGain(1.0f, 2.0f);
    EXPECT_GT(KOGoniometerInstrument::DrawnGain(loud), 0.0f);
}

// ---- oscilloscope ----------------------------------------------------------------------------

struct ScopeRig {
    explicit ScopeRig(std::uint32_t length) {
        scope.SetNumberOfChannels(2);
        scope.SetChannelA(0);
        scope.SetChannelB(1);
        scope.SetInitialCaptureLength(length);
    }
    void feed(const std::vector<float>& a, const std::vector<float>& b) {
        PlanarBlock block({a, b});
        scope.Process(&block.list, block.frames());
    }
    KOOscilloscopeInstrument scope;
};

TEST(KOOscilloscopeInstrument, TriggersOnTheRisingCrossingOnly) {
    struct Case {
        const char* name;
        std::vector<float> signal;
        float level;
        int expectedTrigger; // index of the first captured sample, −1 for none
    };
    const Case cases[] = {
        {"rising between samples", {-0.5f, -0.2f, 0.1f, 0.4f, 0.6f, 0.7f, 0.8f, 0.9f}, 0.0f, 2},
        {"touching the level", {-0.5f, 0.0f, -0.5f, 0.0f, -0.5f, 0.0f, -0.5f, 0.0f}, 0.0f, -1},
        {"falling crossing", {0.5f, 0.2f, -0.1f, -0.4f, -0.6f, -0.7f, -0.8f, -0.9f}, 0.0f, -1},
        {"index 0 never compares with itself",
         {0.9f, 0.9f, 0.9f, 0.9f, 0.9f, 0.9f, 0.9f, 0.9f},
         0.5f,
         -1},
        {"level off zero", {0.1f, 0.2f, 0.3f, 0.4f, 0.5f, 0.6f, 0.7f, 0.8f}, 0.45f, 4},
        // A generated sine puts its zero exactly on a sample: it must still trigger, at the
        // first sample above the level.
        {"rising through a sample on the level",
         {-0.5f, -0.2f, 0.0f, 0.3f, 0.6f, 0.7f, 0.8f, 0.9f},
         0.0f,
         3},
        {"resting on the level, then rising",
         {-0.5f, 0.25f, 0.25f, 0.25f, 0.5f, 0.6f, 0.7f, 0.8f},
         0.25f,
         4},
        {"resting on the level, then falling back",
         {-0.5f, 0.0f, 0.0f, -0.1f, -0.2f, -0.3f, -0.4f, -0.5f},
         0.0f,
         -1},
        {"touching from above, then rising",
         {0.5f, 0.0f, 0.5f, 0.0f, 0.5f, 0.0f, 0.6f, 0.7f},
         0.0f,
         -1},
        {"first sample on the level, then rising",
         {0.0f, 0.1f, 0.2f, 0.3f, 0.4f, 0.5f, 0.6f, 0.7f},
         0.0f,
         -1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ScopeRig rig(10);
        rig.scope.SetTriggerLevel(c.level);
        std::vector<float> b(c.signal.size());
        for (std::size_t i = 0; i < b.size(); ++i) {
            b[i] = float(i); // channel B carries the sample index
        }
        // The signal's last value held: no crossing at the boundary either.
        std::vector<float> rest(64, c.signal.back());
        std::vector<float> restB(64);
        for (std::size_t i = 0; i < restB.size(); ++i) {
            restB[i] = float(100 + i);
        }
        rig.feed(c.signal, b);
        if (c.expectedTrigger < 0) {
            // Nothing may start from this block; a following flat block cannot trigger either.
            rig.feed(rest, restB);
            EXPECT_FALSE(rig.scope.IsComplete());
            continue;
        }
        rig.feed(rest, restB);
        ASSERT_TRUE(rig.scope.IsComplete());
        EXPECT_EQ(rig.scope.SnapshotB().size(), 0u) << "nothing taken yet";
        ASSERT_TRUE(rig.scope.TakeSnapshot(nullptr, nullptr, 0, 10));
        const auto& captured = rig.scope.SnapshotB();
        ASSERT_EQ(captured.size(), 10u);
        const std::size_t fromFirst = c.signal.size() - std::size_t(c.expectedTrigger);
        for (std::size_t i = 0; i < captured.size(); ++i) {
            const float expected = i < fromFirst ? float(std::size_t(c.expectedTrigger) + i)
                                                 : float(100 + i - fromFirst);
            EXPECT_EQ(captured[i], expected) << "sample " << i;
        }
        EXPECT_EQ(rig.scope.SnapshotA()[0], c.signal[std::size_t(c.expectedTrigger)]);
    }
}

TEST(KOOscilloscopeInstrument, CaptureSpansBuffersAndIsHeldUntilTheSnapshot) {
    ScopeRig rig(4800);
    constexpr std::uint32_t kFrames = 1024;
    std::uint32_t sampleTime = 0;
    auto next = [&](std::vector<float>& a, std::vector<float>& b) {
        a.assign(kFrames, -1.0f);
        b.resize(kFrames);
        for (std::uint32_t i = 0; i < kFrames; ++i) {
            b[i] = float(sampleTime + i);
            if (sampleTime + i >= 1000) {
                a[i] = 1.0f; // one rising step at sample 1000
            }
        }
        sampleTime += kFrames;
    };
    std::vector<float> a, b;
    for (int block = 0; block < 5; ++block) {
        next(a, b);
        rig.feed(a, b);
        EXPECT_FALSE(rig.scope.IsComplete()) << "block " << block;
    }
    next(a, b);
    rig.feed(a, b);
    ASSERT_TRUE(rig.scope.IsComplete()) << "24 samples from the first buffer, the rest from five";
    // A held capture is not overwritten by what follows.
    next(a, b);
    rig.feed(a, b);
    std::vector<float> view(5);
    ASSERT_TRUE(rig.scope.TakeSnapshot(nullptr, view.data(), 5, 100));
    const auto& captured = rig.scope.SnapshotB();
    ASSERT_EQ(captured.size(), 4800u);
    EXPECT_EQ(captured.front(), 1000.0f);
    EXPECT_EQ(captured.back(), 5799.0f);
    // The view spans the capture end to end: positions 0, 1199.75, … 4799.
    EXPECT_FLOAT_EQ(view[0], 1000.0f);
    EXPECT_FLOAT_EQ(view[1], 2199.75f);
    EXPECT_FLOAT_EQ(view[4], 5799.0f);
    EXPECT_EQ(rig.scope.CaptureLength(), 100u);
    // No fresh capture: the held snapshot is shown again at another width.
    std::vector<float> wide(3);
    EXPECT_FALSE(rig.scope.TakeSnapshot(nullptr, wide.data(), 3, 100));
    EXPECT_FLOAT_EQ(wide[2], 5799.0f);
}

TEST(KOOscilloscopeInstrument, FindsACrossingBetweenBuffersAndClampsItsLength) {
    struct Case {
        const char* name;
        std::vector<float> first; // ends the buffer before
        std::vector<float> second;
        bool triggers;
    };
    const Case cases[] = {
        {"below, then above", std::vector<float>(16, -0.5f), std::vector<float>(16, 0.5f), true},
        {"ending on the level", {-0.5f, -0.5f, 0.0f, 0.0f}, std::vector<float>(16, 0.5f), true},
        {"touching from above", {0.5f, 0.5f, 0.0f, 0.0f}, std::vector<float>(16, 0.5f), false},
        {"all of it on the level", {0.0f, 0.0f}, std::vector<float>(16, 0.5f), false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ScopeRig rig(10);
        rig.feed(c.first, std::vector<float>(c.first.size(), -1.0f));
        std::vector<float> b(c.second.size());
        for (std::size_t i = 0; i < b.size(); ++i) {
            b[i] = float(i);
        }
        rig.feed(c.second, b);
        ASSERT_EQ(rig.scope.IsComplete(), c.triggers);
        if (c.triggers) {
            ASSERT_TRUE(rig.scope.TakeSnapshot(nullptr, nullptr, 0, 5));
            EXPECT_EQ(rig.scope.SnapshotB().front(), 0.0f) << "from the buffer's first sample";
        }
    }
    ScopeRig rig(10);
    rig.feed(std::vector<float>(16, -0.5f), std::vector<float>(16, 0.0f));
    rig.feed(std::vector<float>(16, 0.5f), std::vector<float>(16, 0.0f));
    ASSERT_TRUE(rig.scope.TakeSnapshot(nullptr, nullptr, 0, 5));
    EXPECT_EQ(rig.scope.CaptureLength(), 10u);
    EXPECT_EQ(KOOscilloscopeInstrument::ClampLength(100000), 65536u);

    // Views of one point or none never divide by zero or read outside the snapshot.
    std::vector<float> one(1, -7.0f);
    KOOscilloscopeInstrument::Resample({3.0f, 4.0f}, one.data(), 1);
    EXPECT_EQ(one[0], 3.0f);
    KOOscilloscopeInstrument::Resample({}, one.data(), 1);
    EXPECT_EQ(one[0], 0.0f);
}

// ---- level integrator ------------------------------------------------------------------------

TEST(KOLevelIntegrator, PeakIsTheLargestMagnitudeAndHeldValuesFall) {
    KOLevelIntegrator integrator; // 44100 Hz, 1024 frames without a host
    integrator.SetNumberOfChannels(1);
    integrator.SetWindowFrames(1024);
    const float peakFall = 30.0f * 1024.0f / 44100.0f;

    std::vector<float> negativeHalfWave(1024);
    for (std::size_t i = 0; i < negativeHalfWave.size(); ++i) {
        negativeHalfWave[i] = -float(std::sin(std::numbers::pi * double(i) / 1023.0));
    }
    negativeHalfWave[511] = -1.0f;
    PlanarBlock loud({negativeHalfWave});
    integrator.Process(&loud.list, 1024);
    KOLevelIntegrator::Levels levels;
    ASSERT_TRUE(integrator.Collect(levels));
    EXPECT_NEAR(levels.peak, 0.0f, 1e-4f);
    // A half sine's RMS over its own length is 1/√2.
    EXPECT_NEAR(levels.rms, 20.0f * std::log10(std::sqrt(0.5f)), 0.02f);

    PlanarBlock silence({std::vector<float>(1024, 0.0f)});
    for (int k = 1; k <= 3; ++k) {
        integrator.Process(&silence.list, 1024);
        ASSERT_TRUE(integrator.Collect(levels));
        EXPECT_NEAR(levels.peak, -peakFall * float(k), 1e-3f) << "collection " << k;
        EXPECT_TRUE(std::isfinite(levels.rms));
    }
    EXPECT_FALSE(integrator.Collect(levels));
}

TEST(KOLevelIntegrator, SlidingWindowAveragesOverItsLengthOnly) {
    KOLevelIntegrator integrator;
    integrator.SetNumberOfChannels(1);
    struct Step {
        float value;
        float expectedRMS; // dB after this block
    };
    integrator.SetWindowFrames(2048);
    // A constant 0.5 fills half the window, then all of it; zeros push it out again.
    const Step steps[] = {
        {0.5f, 20.0f * std::log10(0.5f * std::sqrt(0.5f))},
        {0.5f, 20.0f * std::log10(0.5f)},
    };
    KOLevelIntegrator::Levels levels;
    for (const Step& step : steps) {
        PlanarBlock block({std::vector<float>(1024, step.value)});
        integrator.Process(&block.list, 1024);
        ASSERT_TRUE(integrator.Collect(levels));
        EXPECT_NEAR(levels.rms, step.expectedRMS, 1e-3f);
    }
    // Fresh silence over the whole window: the held value falls, it does not jump.
    PlanarBlock silence({std::vector<float>(1024, 0.0f)});
    integrator.Process(&silence.list, 1024);
    integrator.Process(&silence.list, 1024);
    ASSERT_TRUE(integrator.Collect(levels));
    EXPECT_NEAR(levels.rms, 20.0f * std::log10(0.5f) - 40.0f * 1024.0f / 44100.0f, 1e-3f);

    // Window lengths outside the ring are clamped.
    integrator.SetWindowFrames(10);
    EXPECT_EQ(integrator.WindowFrames(), 1024u);
    integrator.SetWindowFrames(10'000'000);
    EXPECT_EQ(integrator.WindowFrames(), KOLevelIntegrator::kRingFrames);
}

// ---- scales, clip latches, distribution ------------------------------------------------------

TEST(MeterMath, ScalesPlaceFullScaleAndTheFloor) {
    struct Case {
        float decibels;
        float ppm;
        float history;
    };
    const Case cases[] = {
        {0.0f, 0.96941f, 1.0f}, {1.0f, 1.0f, 1.0315f},       {-96.0f, 0.0f, 0.0f},
        {-144.0f, 0.0f, 0.0f},  {-48.0f, 0.121174f, 0.125f},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.decibels);
        EXPECT_NEAR(koru::meters::ppmFraction(c.decibels), c.ppm, 1e-4f);
        EXPECT_NEAR(koru::meters::historyFraction(c.decibels), c.history, 1e-4f);
    }
    EXPECT_EQ(koru::meters::ppmFraction(std::nanf("")), 0.0f);
    EXPECT_EQ(koru::meters::ppmFraction(-INFINITY), 0.0f);
}

TEST(MeterMath, ClipLatchesHoldUntilReset) {
    koru::meters::ClipLatches latches;
    EXPECT_FALSE(latches.update(3, -0.02f));
    EXPECT_TRUE(latches.update(3, 0.0f));
    EXPECT_TRUE(latches.update(3, -60.0f)) << "latched";
    EXPECT_FALSE(latches.isClipped(2));
    EXPECT_FALSE(latches.update(300, 6.0f)) << "outside the meters";
    latches.reset();
    EXPECT_FALSE(latches.isClipped(3));
}

TEST(MeterMath, DistributionMedianRowAndBins) {
    using Ring = ZORingBuffer<float, 2500>;
    struct Case {
        const char* name;
        std::vector<float> values;
        std::uint32_t bound;
        int median;
        int current;
    };
    std::vector<float> tenValues;
    for (int i = 0; i < 5; ++i) {
        tenValues.push_back(100.5f / 200.0f);
        tenValues.push_back(20.5f / 200.0f);
    }
    const Case cases[] = {
        {"silence", std::vector<float>(50, 0.0f), 50, 1, 0},
        {"full scale", std::vector<float>(50, 1.0f), 50, 199, 200},
        {"five at 100, five at 20", tenValues, 10, 100, 20},
        // Only the newest two of the ten count: one at 100, one at 20.
        {"bound below the count", tenValues, 2, 100, 20},
        // A bound above what is stored reads only what is stored.
        {"bound above the count", tenValues, 2000, 100, 20},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Ring ring;
        for (float v : c.values) {
            ring.Push(v);
        }
        const auto result = koru::meters::distribution(ring, c.bound, 200.0f);
        ASSERT_TRUE(result.has_value());
        EXPECT_EQ(result->medianRow, c.median);
        EXPECT_EQ(result->currentRow, c.current);
        ASSERT_EQ(result->bins.size(), 40u);
        int total = 0;
        for (int count : result->bins) {
            total += count;
        }
        EXPECT_EQ(std::size_t(total), std::min<std::size_t>(c.bound, c.values.size()));
    }
    Ring empty;
    EXPECT_FALSE(koru::meters::distribution(empty, 10, 200.0f).has_value());
    Ring one;
    one.Push(0.5f);
    EXPECT_FALSE(koru::meters::distribution(one, 10, 4.0f).has_value());
    EXPECT_FALSE(koru::meters::distribution(one, 2500, 200.0f).has_value());
}

} // namespace
