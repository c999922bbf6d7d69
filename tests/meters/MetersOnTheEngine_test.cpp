#include "engine/KOAD.h"
#include "meters/KOGoniometerInstrument.h"
#include "meters/KOLevelIntegrator.h"
#include "meters/KOMeterMath.h"
#include "platform/audio/DeviceRegistry.h"

#include <gtest/gtest.h>

#include <cmath>
#include <memory>

using koru::platform::DeviceRegistry;
using koru::platform::VirtualInputConfig;
using koru::platform::VirtualSignal;

namespace {

constexpr std::uint32_t kBufferFrames = 1024;

// A manually pumped virtual device: a full-scale negative signal, half of it, silence, and one
// sine on two channels.
class EngineRig {
public:
    EngineRig() {
        VirtualInputConfig config;
        config.name = QStringLiteral("Meter Test");
        config.channels = 5;
        config.sampleRate = 48000.0;
        config.channelSignals = {VirtualSignal::constant(-1.0f), VirtualSignal::constant(-0.5f),
                                 VirtualSignal::silence(), VirtualSignal::sine(1000.0, 0.5f),
                                 VirtualSignal::sine(1000.0, 0.5f)};
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
        {0, 0.0f, true},
        {1, 20.0f * std::log10(0.5f), false},
        {2, KOAD::kFloorDecibels, false},
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
    goniometer.SetChannelA(3);
    goniometer.SetChannelB(4);
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

} // namespace
