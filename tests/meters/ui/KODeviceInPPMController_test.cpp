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

    // Hidden channels drop out of the view; the last visible one stays.
    meters->setShowsChannel(1, false);
    meters->refreshMeters(engine.get());
    ASSERT_EQ(meters->view()->meters().size(), 2u);
    EXPECT_EQ(meters->view()->meters()[1].peak, KOAD::kFloorDecibels) << "channel 2 moved up";
    meters->setShowsChannel(0, false);
    meters->setShowsChannel(2, false);
    EXPECT_TRUE(meters->showsChannel(2)) << "the last visible channel";

    made.reset();
    engine.reset();
    devices.removeDevice(device);
}

TEST(KODeviceInPPMController, ShownChannelsAndLabelsRestoreEntryByEntry) {
    koru::InstrumentRegistry registry;
    koru::registerMeterInstruments(registry);
    auto made = registry.createNew(QStringLiteral("KODeviceInPPMController"), nullptr);
    auto* meters = dynamic_cast<KODeviceInPPMController*>(made.get());
    ASSERT_NE(meters, nullptr);
    EXPECT_FALSE(meters->showsLabels());
    meters->setShowsChannel(3, false);
    meters->setShowsChannel(200, false);
    meters->setShowsLabels(true);
    QVariantMap saved = meters->dictionaryRepresentation();
    EXPECT_EQ(saved.value(QStringLiteral("Meter.ShowChannel")).toList().size(), 256);

    auto restoredMade = registry.createFromDictionary(saved, nullptr);
    auto* restored = dynamic_cast<KODeviceInPPMController*>(restoredMade.get());
    ASSERT_NE(restored, nullptr);
    EXPECT_FALSE(restored->showsChannel(3));
    EXPECT_FALSE(restored->showsChannel(200));
    EXPECT_TRUE(restored->showsChannel(4));
    EXPECT_TRUE(restored->showsLabels());

    // A short array changes only its own entries; missing labels mean off.
    saved.insert(QStringLiteral("Meter.ShowChannel"), QVariantList{true, false});
    saved.remove(QStringLiteral("Meter.ShowLabels"));
    auto shortMade = registry.createFromDictionary(saved, nullptr);
    auto* fromShort = dynamic_cast<KODeviceInPPMController*>(shortMade.get());
    ASSERT_NE(fromShort, nullptr);
    EXPECT_TRUE(fromShort->showsChannel(0));
    EXPECT_FALSE(fromShort->showsChannel(1));
    EXPECT_TRUE(fromShort->showsChannel(3));
    EXPECT_FALSE(fromShort->showsLabels());
}

} // namespace
