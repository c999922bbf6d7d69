#include "app/InstrumentRegistry.h"
#include "engine/KOAD.h"
#include "meters/ui/KODeviceInPPMController.h"
#include "meters/ui/KOMeterViews.h"
#include "meters/ui/MeterInstruments.h"
#include "platform/audio/DeviceRegistry.h"

#include <gtest/gtest.h>

#include <cmath>
#include <memory>

using koru::platform::DeviceRegistry;
using koru::platform::VirtualInputConfig;
using koru::platform::VirtualSignal;

namespace {

TEST(KODeviceInPPMController, ClipLatchesFromTheEngineAndClearsOnReset) {
    DeviceRegistry& devices = DeviceRegistry::shared();
    VirtualInputConfig config;
    config.name = QStringLiteral("PPM Test");
    config.channels = 3;
    config.sampleRate = 48000.0;
    config.channelSignals = {VirtualSignal::constant(-1.0f), VirtualSignal::constant(-0.5f),
                             VirtualSignal::silence()};
    config.manual = true;
    const std::uint32_t device = devices.addVirtualInput(config);
    auto engine = std::make_unique<KOAD>(device, 1024);
    engine->Start();

    koru::InstrumentRegistry registry;
    koru::registerMeterInstruments(registry);
    auto made = registry.createNew(QStringLiteral("KODeviceInPPMController"), nullptr);
    auto* meters = dynamic_cast<KODeviceInPPMController*>(made.get());
    ASSERT_NE(meters, nullptr);
    const QVariantMap saved = meters->dictionaryRepresentation();
    EXPECT_TRUE(registry.createFromDictionary(saved, nullptr)) << "restored from a session";

    ASSERT_TRUE(devices.virtualInput(device)->pump(1024));
    meters->refreshMeters(engine.get());
    const auto& shown = meters->view()->meters();
    ASSERT_EQ(shown.size(), 3u);
    // The full-scale negative signal: 0 dB and a lit clip box; half of it and silence: neither.
    EXPECT_NEAR(shown[0].peak, 0.0f, 1e-4f);
    EXPECT_TRUE(shown[0].clipped);
    EXPECT_NEAR(shown[1].peak, 20.0f * std::log10(0.5f), 1e-3f);
    EXPECT_FALSE(shown[1].clipped);
    EXPECT_EQ(shown[2].peak, KOAD::kFloorDecibels);
    EXPECT_FALSE(shown[2].clipped);

    // The application's clip-notification click resets every meter window through reset().
    meters->reset();
    EXPECT_FALSE(meters->clipLatches().isClipped(0));
    EXPECT_FALSE(meters->view()->meters()[0].clipped);
    // Still at full scale: lit again at the next refresh.
    ASSERT_TRUE(devices.virtualInput(device)->pump(1024));
    meters->refreshMeters(engine.get());
    EXPECT_TRUE(meters->view()->meters()[0].clipped);
    meters->refreshMeters(nullptr);
    EXPECT_TRUE(meters->view()->meters().empty());

    made.reset();
    engine.reset();
    devices.removeDevice(device);
}

} // namespace
