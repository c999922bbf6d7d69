#include "app/InstrumentRegistry.h"
#include "engine/KOAD.h"
#include "meters/ui/KODeviceInPPMController.h"
#include "meters/ui/KOMeterViews.h"
#include "meters/ui/MeterInstruments.h"
#include "platform/audio/DeviceRegistry.h"

#include <QAction>
#include <QMainWindow>
#include <QMenu>
#include <QTableWidget>
#include <QTest>

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
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
    EXPECT_TRUE(meters->showsLabels()) << "a new window names its meters";
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

// A manually pumped virtual device of four channels, the first at full scale.
class PPMRig {
public:
    PPMRig() {
        VirtualInputConfig config;
        config.name = QStringLiteral("PPM Table Test");
        config.channels = 4;
        config.sampleRate = 48000.0;
        config.channelSignals = {VirtualSignal::negativeHalfWave(1000.0, 1.0f),
                                 VirtualSignal::sine(1000.0, 0.25f), VirtualSignal::silence(),
                                 VirtualSignal::silence()};
        config.manual = true;
        device = devices.addVirtualInput(config);
        engine = std::make_unique<KOAD>(device, 1024);
        engine->Start();
        koru::registerMeterInstruments(registry);
        made = registry.createNew(QStringLiteral("KODeviceInPPMController"), nullptr);
        meters = dynamic_cast<KODeviceInPPMController*>(made.get());
    }
    ~PPMRig() {
        made.reset();
        engine.reset();
        devices.removeDevice(device);
    }
    void pumpAndRefresh() {
        ASSERT_TRUE(devices.virtualInput(device)->pump(1024));
        meters->refreshMeters(engine.get());
    }
    std::vector<bool> shown() const {
        std::vector<bool> flags;
        for (std::uint32_t channel = 0; channel < 4; ++channel) {
            flags.push_back(meters->showsChannel(channel));
        }
        return flags;
    }

    DeviceRegistry& devices = DeviceRegistry::shared();
    std::uint32_t device = 0;
    std::unique_ptr<KOAD> engine;
    koru::InstrumentRegistry registry;
    std::unique_ptr<KOInstrumentController> made;
    KODeviceInPPMController* meters = nullptr;
};

TEST(KODeviceInPPMController, TheChannelTableListsEveryChannelAndChoosesTheShownOnes) {
    PPMRig rig;
    ASSERT_NE(rig.meters, nullptr);
    rig.pumpAndRefresh();
    QTableWidget* table = rig.meters->channelTable();
    ASSERT_NE(table, nullptr);
    ASSERT_EQ(table->rowCount(), 4);
    for (int row = 0; row < 4; ++row) {
        SCOPED_TRACE(row);
        EXPECT_EQ(table->item(row, KODeviceInPPMController::kShowColumn)->checkState(),
                  Qt::Checked);
        EXPECT_EQ(table->item(row, KODeviceInPPMController::kNameColumn)->text(),
                  rig.engine->ChannelName(std::uint32_t(row)));
        EXPECT_EQ(rig.meters->view()->meters()[std::size_t(row)].name,
                  rig.engine->ChannelName(std::uint32_t(row)));
    }

    using Flags = std::vector<bool>;
    struct Step {
        const char* what;
        std::uint32_t row;
        bool show;
        Qt::KeyboardModifiers modifiers;
        Flags after;
    };
    const Step steps[] = {
        {"uncheck one", 1, false, Qt::NoModifier, {true, false, true, true}},
        {"Alt-uncheck shows only this one", 2, false, Qt::AltModifier, {false, false, true, false}},
        {"the last visible one stays", 2, false, Qt::NoModifier, {false, false, true, false}},
        {"Alt-check shows all others, hides this one",
         0,
         true,
         Qt::AltModifier,
         {false, true, true, true}},
        {"check one", 0, true, Qt::NoModifier, {true, true, true, true}},
        {"a row past the channels changes nothing",
         7,
         false,
         Qt::NoModifier,
         {true, true, true, true}},
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(step.what);
        rig.meters->setShowsChannelFromTable(step.row, step.show, step.modifiers);
        EXPECT_EQ(rig.shown(), step.after);
        for (int row = 0; row < 4; ++row) {
            EXPECT_EQ(table->item(row, KODeviceInPPMController::kShowColumn)->checkState() ==
                          Qt::Checked,
                      step.after[std::size_t(row)])
                << "the table follows, row " << row;
        }
    }
    // A click in the table goes the same way.
    table->item(3, KODeviceInPPMController::kShowColumn)->setCheckState(Qt::Unchecked);
    EXPECT_FALSE(rig.meters->showsChannel(3));
    rig.pumpAndRefresh();
    EXPECT_EQ(rig.meters->view()->meters().size(), 3u);
}

TEST(KODeviceInPPMController, ClipBoxesClearFromTheMenuAndFromAClickNearTheTop) {
    PPMRig rig;
    ASSERT_NE(rig.meters, nullptr);
    QMenu* menu = rig.meters->instrumentMenu();
    ASSERT_NE(menu, nullptr);
    auto item = [menu](const QString& title) -> QAction* {
        for (QAction* action : menu->actions()) {
            if (action->text() == title) {
                return action;
            }
        }
        return nullptr;
    };
    ASSERT_NE(item(QStringLiteral("Reset Peak")), nullptr);
    ASSERT_NE(item(QStringLiteral("Rotate")), nullptr);
    ASSERT_NE(item(QStringLiteral("Draw Labels")), nullptr);

    KODeviceInPPMView* view = rig.meters->view();
    view->resize(60, 208);
    struct Case {
        const char* how;
        std::function<void()> reset;
        bool clears;
    };
    const Case cases[] = {
        {"Reset Peak", [&] { item(QStringLiteral("Reset Peak"))->trigger(); }, true},
        {"a click near the top",
         [&] {
             QTest::mouseClick(view, Qt::LeftButton, {}, {30, 5});
         },
         true},
        {"a click lower down",
         [&] {
             QTest::mouseClick(view, Qt::LeftButton, {}, {30, 100});
         },
         false},
        // The application resets every meter window when the clip notification is clicked.
        {"the clip notification", [&] { rig.meters->reset(); }, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.how);
        // The negative half-wave reaches full scale: 0 dB peak, the clip box lights.
        rig.pumpAndRefresh();
        ASSERT_NEAR(view->meters()[0].peak, 0.0f, 1e-4f);
        ASSERT_TRUE(view->meters()[0].clipped);
        EXPECT_FALSE(view->meters()[1].clipped);
        c.reset();
        EXPECT_EQ(rig.meters->clipLatches().isClipped(0), !c.clears);
        EXPECT_EQ(view->meters()[0].clipped, !c.clears);
    }

    // Draw Labels turns the names off and on.
    item(QStringLiteral("Draw Labels"))->trigger();
    EXPECT_FALSE(rig.meters->showsLabels());
    EXPECT_FALSE(view->drawLabels());
    item(QStringLiteral("Draw Labels"))->trigger();
    EXPECT_TRUE(view->drawLabels());
}

TEST(KODeviceInPPMController, RotateLaysTheMetersDownAndTheWindowFitsThem) {
    PPMRig rig;
    ASSERT_NE(rig.meters, nullptr);
    QMainWindow* window = rig.meters->instrumentWindow();
    window->show();
    rig.pumpAndRefresh();
    rig.meters->synchronizeWithAudioSettings();
    // Four meters: between 11 and 32 points each, plus the scale.
    const int across = rig.meters->view()->width();
    EXPECT_GE(across, int(KODeviceInPPMView::minWidth(4)));
    EXPECT_LE(across, int(KODeviceInPPMView::preferredWidth(4)));
    EXPECT_FALSE(rig.meters->view()->rotated());
    const QSize before = window->size();
    rig.meters->toggleRotation();
    EXPECT_EQ(window->size(), before.transposed());
    EXPECT_TRUE(rig.meters->view()->rotated());
    rig.meters->toggleRotation();
    EXPECT_EQ(window->size(), before);
    EXPECT_FALSE(rig.meters->view()->rotated());
}

} // namespace
