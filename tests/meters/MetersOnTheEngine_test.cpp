#include "engine/KOAD.h"
#include "meters/KOGoniometerInstrument.h"
#include "meters/KOLevelIntegrator.h"
#include "meters/KOMeterMath.h"
#include "meters/KOOscilloscopeInstrument.h"
#include "platform/audio/DeviceRegistry.h"

#include <gtest/gtest.h>

#include <cmath>
#include <memory>

using koru::platform::DeviceRegistry;
using koru::platform::VirtualInputConfig;
using koru::platform::VirtualSignal;

namespace {

constexpr std::uint32_t kBufferFrames = 1024;

constexpr double kRate = 48000.0;

// Channels of the rig's virtual device.
enum Channel : std::uint32_t {
    kFullScaleNegative, // constant −1
    kHalfNegative,      // constant −0.5
    kSilence,
    kSine,     // 1 kHz, 0.5: its zeros fall exactly on every 48th frame
    kSameSine, // the same again
    kInvertedSine,
    kNoise,
    kOtherNoise,       // another seed: uncorrelated with kNoise
    kRamp,             // the frame index / 2^20, exactly
    kNegativeHalfWave, // full-scale negative half-waves of 1 kHz
    kChannelCount
};

// A manually pumped virtual device.
class EngineRig {
public:
    EngineRig() {
        VirtualInputConfig config;
        config.name = QStringLiteral("Meter Test");
        config.channels = kChannelCount;
        config.sampleRate = kRate;
        config.channelSignals = {VirtualSignal::constant(-1.0f),
                                 VirtualSignal::constant(-0.5f),
                                 VirtualSignal::silence(),
                                 VirtualSignal::sine(1000.0, 0.5f),
                                 VirtualSignal::sine(1000.0, 0.5f),
                                 VirtualSignal::sine(1000.0, -0.5f),
                                 VirtualSignal::noise(0.5f, 1),
                                 VirtualSignal::noise(0.5f, 2),
                                 VirtualSignal::ramp(),
                                 VirtualSignal::negativeHalfWave(1000.0, 1.0f)};
        config.manual = true;
        mDevice = registry.addVirtualInput(config);
        engine = std::make_unique<KOAD>(mDevice, kBufferFrames);
        engine->Start();
    }
    ~EngineRig() {
        engine.reset();
        registry.removeDevice(mDevice);
    }
    void pump(std::uint32_t buffers) {
        for (std::uint32_t i = 0; i < buffers; ++i)
            ASSERT_TRUE(registry.virtualInput(mDevice)->pump(kBufferFrames));
    }

    DeviceRegistry& registry = DeviceRegistry::shared();
    std::unique_ptr<KOAD> engine;
    std::uint32_t mDevice = 0;
};

TEST(MetersOnTheEngine, PeakReadsTheLargestMagnitudeAndFullScaleLightsTheClip) {
    EngineRig rig;
    rig.pump(4);
    koru::meters::ClipLatches latches;
    struct Case {
        std::uint32_t channel;
        float peak;
        bool clipped;
    };
    const Case cases[] = {
        {kFullScaleNegative, 0.0f, true},         {kHalfNegative, 20.0f * std::log10(0.5f), false},
        {kSilence, KOAD::kFloorDecibels, false},  {kNegativeHalfWave, 0.0f, true},
        {kSine, 20.0f * std::log10(0.5f), false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.channel);
        const KOAD::Levels levels = rig.engine->GetLevels(c.channel);
        EXPECT_NEAR(levels.peak, c.peak, 1e-4f);
        EXPECT_TRUE(std::isfinite(levels.rms));
        EXPECT_EQ(latches.update(c.channel, levels.peak), c.clipped);
    }
    // A reset clears the latch; the next full-scale buffer lights it again.
    latches.reset();
    EXPECT_FALSE(latches.isClipped(0));
    rig.pump(1);
    EXPECT_TRUE(latches.update(0, rig.engine->GetLevels(0).peak));
}

TEST(MetersOnTheEngine, GoniometerAndIntegratorFollowTheDevice) {
    EngineRig rig;
    KOGoniometerInstrument goniometer;
    KOLevelIntegrator integrator;
    rig.engine->AddClient(&goniometer);
    rig.engine->AddClient(&integrator);
    goniometer.SetChannelA(kSine);
    goniometer.SetChannelB(kSameSine);
    integrator.SetChannel(0);
    rig.pump(1);
    KOGoniometerInstrument::Block block;
    ASSERT_TRUE(goniometer.Collect(block));
    EXPECT_NEAR(KOGoniometerInstrument::Correlation(block.a.data(), block.b.data(), block.frames),
                1.0f, 1e-6f);
    KOLevelIntegrator::Levels levels;
    ASSERT_TRUE(integrator.Collect(levels));
    EXPECT_NEAR(levels.peak, 0.0f, 1e-4f) << "a full-scale negative signal peaks at 0 dB";
    // One buffer of −1 in a 0.25 s window of zeros: mean square 1024/12000.
    EXPECT_NEAR(levels.rms, 10.0f * std::log10(1024.0f / 12000.0f), 1e-3f);
}

TEST(MetersOnTheEngine, GoniometerCorrelationOfEqualInvertedAndUncorrelatedChannels) {
    EngineRig rig;
    KOGoniometerInstrument goniometer;
    rig.engine->AddClient(&goniometer);
    struct Case {
        const char* name;
        std::uint32_t a;
        std::uint32_t b;
        float correlation;
        float tolerance;
    };
    const Case cases[] = {
        {"equal", kSine, kSameSine, 1.0f, 1e-5f},
        {"inverted", kSine, kInvertedSine, -1.0f, 1e-5f},
        // 1024 samples of independent noise: within five standard deviations of 0.
        {"uncorrelated", kNoise, kOtherNoise, 0.0f, 0.15f},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        goniometer.SetChannelA(c.a);
        goniometer.SetChannelB(c.b);
        rig.pump(1);
        KOGoniometerInstrument::Block block;
        ASSERT_TRUE(goniometer.Collect(block));
        EXPECT_NEAR(
            KOGoniometerInstrument::Correlation(block.a.data(), block.b.data(), block.frames),
            c.correlation, c.tolerance);
    }
    rig.engine->RemoveClient(&goniometer);
}

TEST(MetersOnTheEngine, OscilloscopeTriggersOnTheVirtualSineAndCapturesFromThere) {
    // The ramp on channel B tells which frame each captured sample came from.
    auto frameOf = [](float ramp) { return std::uint32_t(std::lround(ramp * float(1u << 20))); };
    struct Case {
        float level;
        std::uint32_t firstFrame;   // the frame after the first rising crossing
        std::uint32_t rearmedFrame; // the same in the buffer after the snapshot
    };
    const Case cases[] = {
        // The sine's zero falls exactly on frame 48: the first sample above it triggers.
        {0.0f, 49, 1057},
        // 0.5·sin(π/6) is exactly 0.25, on frame 4.
        {0.25f, 5, 1061},
        {0.49f, 11, 1067},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.level);
        EngineRig rig;
        KOOscilloscopeInstrument scope;
        scope.SetInitialCaptureLength(100);
        rig.engine->AddClient(&scope);
        scope.SetChannelA(kSine);
        scope.SetChannelB(kRamp);
        scope.SetTriggerLevel(c.level);
        rig.pump(1);
        ASSERT_TRUE(scope.IsComplete()) << "no trace would appear";
        ASSERT_TRUE(scope.TakeSnapshot(nullptr, nullptr, 0, 100));
        const VirtualSignal sine = VirtualSignal::sine(1000.0, 0.5f);
        ASSERT_EQ(scope.SnapshotA().size(), 100u);
        EXPECT_EQ(frameOf(scope.SnapshotB().front()), c.firstFrame);
        for (std::uint32_t i = 0; i < 100; ++i) {
            ASSERT_EQ(frameOf(scope.SnapshotB()[i]), c.firstFrame + i);
            ASSERT_EQ(scope.SnapshotA()[i], sine.sampleAt(c.firstFrame + i, kRate)) << i;
        }
        EXPECT_GT(scope.SnapshotA().front(), c.level);
        EXPECT_LE(scope.SnapshotA()[0] - c.level, 0.07f) << "just after the crossing";
        // Re-armed by the snapshot: the next buffer triggers at its own crossing.
        rig.pump(1);
        ASSERT_TRUE(scope.IsComplete());
        ASSERT_TRUE(scope.TakeSnapshot(nullptr, nullptr, 0, 100));
        EXPECT_EQ(frameOf(scope.SnapshotB().front()), c.rearmedFrame);
        rig.engine->RemoveClient(&scope);
    }
}

} // namespace
