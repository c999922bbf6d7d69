#include "AudioSettingsWindowTestSupport.h"

#include "engine/EngineTestSupport.h"
#include "engine/KOAD.h"
#include "engine/KOPatchMatrix.h"
#include "engine/ui/KOAuxFilePlayerWrapper.h"
#include "engine/ui/KOSignalGeneratorWrapper.h"
#include "netaudio/ui/KOAuxNetReceiveWrapper.h"
#include "platform/audio/DeviceRegistry.h"
#include "platform/audio/VirtualSignal.h"
#include "zotools/ui/ZOAudioInputDevicePopUpButton.h"

#include <QAction>
#include <QCheckBox>
#include <QItemSelectionModel>
#include <QLabel>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QTableView>
#include <QTest>

#include <gtest/gtest.h>

#include <functional>

namespace {

using koru::platform::DeviceRegistry;
using koru::platform::VirtualInputConfig;
using koru::platform::VirtualSignal;
using koru::test::AudioSettingsApp;
using koru::test::chooseInPopUpByData;
using koru::test::flushEvents;

constexpr std::uint32_t kFFTSize = 8192;
constexpr double kRate = 48000.0;

QStringList itemTitles(const QComboBox& popUp) {
    QStringList titles;
    for (int i = 0; i < popUp.count(); ++i)
        titles << popUp.itemText(i);
    return titles;
}

QMenu* menuTitled(const QMainWindow& window, const QString& title) {
    for (QAction* item : window.menuBar()->actions())
        if (item->text() == title)
            return item->menu();
    return nullptr;
}

// Two manual inputs with a tone each, at bins of their own, and the application on them with
// a spectrum analyser on the engine.
class AudioSettingsWindowTest : public ::testing::Test {
protected:
    static constexpr std::uint32_t kBinA = 186;
    static constexpr std::uint32_t kBinB = 300;

    void SetUp() override {
        deviceA = addInput(QStringLiteral("Settings Input A"), kBinA);
        deviceB = addInput(QStringLiteral("Settings Input B"), kBinB);
        koru::AuxInputWrapperFactory generators;
        generators.create = [this] {
            KOSignalGeneratorWrapper::Options options;
            options.output = std::make_unique<koru::test::ManualOutput>(kRate, true);
            options.defaults = &world.defaults;
            return std::make_unique<KOSignalGeneratorWrapper>(std::move(options));
        };
        world.device->setAuxInputWrapperFactory(koru::AuxInputKind::SignalGenerator, generators);
        KOAuxFilePlayerWrapper::Services playerServices;
        playerServices.output = [] {
            return std::make_unique<koru::test::ManualOutput>(kRate, true);
        };
        world.device->setAuxInputWrapperFactory(koru::AuxInputKind::FilePlayer,
                                                KOAuxFilePlayerWrapper::factory(playerServices));
        KOAuxNetReceiveWrapper::Services receiverServices;
        receiverServices.output = [] {
            return std::make_unique<koru::test::ManualOutput>(kRate, true);
        };
        world.device->setAuxInputWrapperFactory(koru::AuxInputKind::NetReceive,
                                                KOAuxNetReceiveWrapper::factory(receiverServices));
        world.start();
        flushEvents();
    }
    void TearDown() override {
        if (analyzer && world.device->getKOAD())
            world.device->getKOAD()->RemoveClient(analyzer.get());
        analyzer.reset();
    }
    ~AudioSettingsWindowTest() override {
        for (const std::uint32_t id : {deviceA, deviceB})
            registry.removeDevice(id);
    }

    std::uint32_t addInput(const QString& name, std::uint32_t bin) {
        VirtualInputConfig config;
        config.name = name;
        config.channels = 2;
        config.sampleRate = kRate;
        config.channelSignals = {VirtualSignal::sine(bin * kRate / kFFTSize, 0.5f),
                                 VirtualSignal::silence()};
        config.manual = true;
        return registry.addVirtualInput(config);
    }
    void listenWithAnAnalyser() {
        analyzer = std::make_unique<KOSpectrumAnalyzer>(kFFTSize, koru::platform::fourCC("hann"));
        world.device->getKOAD()->AddClient(analyzer.get());
        analyzer->SetChannel(0);
    }
    // The peak of the newest spectrum after enough blocks for a whole new one.
    std::uint32_t peakAfterPumping(std::uint32_t device) {
        for (int i = 0; i < 24; ++i)
            EXPECT_TRUE(registry.virtualInput(device)->pump(1024));
        return koru::test::peakBin(koru::test::spectrumOf(*analyzer));
    }
    KOAudioSettingsWindow& window() { return world.window(); }

    DeviceRegistry& registry = DeviceRegistry::shared();
    std::uint32_t deviceA = 0;
    std::uint32_t deviceB = 0;
    AudioSettingsApp world{QStringLiteral("audio-settings")};
    std::unique_ptr<KOSpectrumAnalyzer> analyzer;
};

TEST_F(AudioSettingsWindowTest, TheDeviceAndRateChosenInTheWindowAreWhatTheEngineMeasures) {
    EXPECT_TRUE(window().isVisible());
    // Linux has no clock sources, and no mixer belongs to a virtual device.
    EXPECT_TRUE(window().clockSourcePopUpButton()->isHidden());
    EXPECT_TRUE(window().clockSourceLabel()->isHidden());
    EXPECT_TRUE(window().audioConfigurationAppButton()->isHidden());

    listenWithAnAnalyser();
    ASSERT_TRUE(chooseInPopUpByData(*window().audioInPopUpButton(), deviceA));
    flushEvents();
    ASSERT_EQ(world.device->audioObjectID(), deviceA);
    EXPECT_EQ(window().audioInPopUpButton()->selectedObjectID(), deviceA);
    EXPECT_EQ(peakAfterPumping(deviceA), kBinA);

    ASSERT_TRUE(chooseInPopUpByData(*window().audioInPopUpButton(), deviceB));
    flushEvents();
    ASSERT_EQ(world.device->audioObjectID(), deviceB);
    EXPECT_EQ(peakAfterPumping(deviceB), kBinB);
    // The application's device menu follows too.
    EXPECT_TRUE(world.alerts->shown.empty()) << world.alerts->titles().join('|').toStdString();

    QComboBox& rates = *window().sampleRatePopUpMenu();
    EXPECT_EQ(itemTitles(rates), QStringList({"44100 Hz", "48000 Hz", "96000 Hz"}));
    EXPECT_EQ(rates.currentText(), QStringLiteral("48000 Hz"));
    EXPECT_EQ(rates.currentData().toUInt(), 48000u);

    ASSERT_TRUE(chooseInPopUpByData(rates, 96000u));
    flushEvents();
    EXPECT_EQ(world.device->nominalSampleRate(), 96000.0);
    EXPECT_EQ(registry.virtualInput(deviceB)->sampleRate(), 96000.0);
    EXPECT_EQ(window().sampleRatePopUpMenu()->currentText(), QStringLiteral("96000 Hz"));
    // The same tone at twice the rate lands at half the bin: the engine reads at the new rate.
    EXPECT_EQ(peakAfterPumping(deviceB), kBinB / 2);
    EXPECT_TRUE(world.alerts->shown.empty()) << world.alerts->titles().join('|').toStdString();
}

// Refused changes show the alert and leave the device, its rate and the controls as they were.
TEST_F(AudioSettingsWindowTest, RefusedChangesShowTheAlertAndKeepTheRunningDevice) {
    ASSERT_TRUE(chooseInPopUpByData(*window().audioInPopUpButton(), deviceA));
    flushEvents();
    ASSERT_EQ(world.device->audioObjectID(), deviceA);
    const std::uint32_t gone = addInput(QStringLiteral("Settings Input Gone"), 100);
    flushEvents();

    const QString safeMode = QStringLiteral("Can't change Audio Settings");
    const QString deviceError = QStringLiteral("Error when changing Audio Device");
    struct Case {
        const char* what;
        bool safeMode;
        std::function<void()> act;
        QString alert;
    };
    const Case cases[] = {
        {"another device while recording", true,
         [&] { ASSERT_TRUE(chooseInPopUpByData(*window().audioInPopUpButton(), deviceB)); },
         safeMode},
        {"another rate while recording", true,
         [&] { ASSERT_TRUE(chooseInPopUpByData(*window().sampleRatePopUpMenu(), 96000u)); },
         safeMode},
        {"the file player while recording", true,
         [&] { koru::test::clickCheckBox(*window().filePlayerButton()); }, safeMode},
        {"the signal generator while recording", true,
         [&] { koru::test::clickCheckBox(*window().sigGenButton()); }, safeMode},
        {"a device that has gone", false,
         [&] {
             // A choice that was listed when made (a menu left open, a stale pop-up) reaches
             // the application's device switch after the device went.
             ASSERT_GE(window().audioInPopUpButton()->findData(gone), 0);
             registry.removeDevice(gone);
             world.app->setAudioDeviceID(gone);
         },
         deviceError},
        {"a rate the device does not offer", false,
         [&] { EXPECT_FALSE(world.device->chooseNominalSampleRate(22050.0)); }, deviceError},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        KOAD* engine = world.device->getKOAD();
        if (c.safeMode)
            engine->EnterSafeMode();
        world.alerts->shown.clear();
        c.act();
        flushEvents();
        if (c.safeMode)
            engine->LeaveSafeMode();
        EXPECT_EQ(world.alerts->titles(), QStringList({c.alert}));
        EXPECT_EQ(world.device->audioObjectID(), deviceA);
        EXPECT_EQ(world.device->nominalSampleRate(), kRate);
        EXPECT_EQ(registry.virtualInput(deviceA)->sampleRate(), kRate);
        EXPECT_EQ(world.device->filePlayer(), nullptr);
        EXPECT_EQ(world.device->signalGenerator(), nullptr);
        EXPECT_EQ(world.quits, 0);
        // The controls show the device as it is.
        EXPECT_EQ(window().audioInPopUpButton()->selectedObjectID(), deviceA);
        EXPECT_EQ(window().sampleRatePopUpMenu()->currentData().toUInt(), 48000u);
        EXPECT_FALSE(window().filePlayerButton()->isChecked());
        EXPECT_FALSE(window().sigGenButton()->isChecked());
    }
}

TEST_F(AudioSettingsWindowTest, SummingChannelsAreAddedAndRemovedFromTheWindow) {
    QTableView& table = *window().summingChannelsTable();
    QPushButton& add = *window().addSummingChannelButton();
    QPushButton& remove = *window().removeSummingChannelButton();
    KOAD* engine = world.device->getKOAD();
    const std::uint32_t native = world.device->numNativeChannels();
    ASSERT_EQ(table.model()->rowCount(), 0);

    QTest::mouseClick(&add, Qt::LeftButton);
    QTest::mouseClick(&add, Qt::LeftButton);
    EXPECT_EQ(table.model()->rowCount(), 2);
    EXPECT_EQ(engine->NumberOfSummingChannels(), 4u);
    EXPECT_EQ(world.device->totalNumberChannels(), native + 4);

    // Without a selection nothing goes.
    table.clearSelection();
    QTest::mouseClick(&remove, Qt::LeftButton);
    EXPECT_EQ(table.model()->rowCount(), 2);

    table.selectRow(1);
    QTest::mouseClick(&remove, Qt::LeftButton);
    EXPECT_EQ(table.model()->rowCount(), 1);
    EXPECT_EQ(engine->NumberOfSummingChannels(), 2u);

    // Up to sixteen; then the add button is off, and on again once one goes.
    for (int i = 0; i < 15; ++i)
        QTest::mouseClick(&add, Qt::LeftButton);
    EXPECT_EQ(table.model()->rowCount(), 16);
    EXPECT_FALSE(add.isEnabled());
    table.selectRow(0);
    QTest::mouseClick(&remove, Qt::LeftButton);
    EXPECT_EQ(table.model()->rowCount(), 15);
    EXPECT_TRUE(add.isEnabled());
    while (table.model()->rowCount() > 0) {
        table.selectRow(0);
        QTest::mouseClick(&remove, Qt::LeftButton);
    }
    EXPECT_EQ(engine->NumberOfSummingChannels(), 0u);
    EXPECT_TRUE(world.alerts->shown.empty());
}

TEST_F(AudioSettingsWindowTest, TheVirtualInputsComeAndGoFromTheirCheckButtons) {
    struct Case {
        const char* what;
        QCheckBox* button;
        std::function<koru::AuxInputWrapper*()> wrapper;
    };
    const Case cases[] = {
        {"signal generator", window().sigGenButton(),
         [this] { return world.device->signalGenerator(); }},
        {"file player", window().filePlayerButton(), [this] { return world.device->filePlayer(); }},
        {"net receive", window().netReceiveButton(), [this] { return world.device->netReceive(); }},
    };
    QAction* mute = window().toggleSigGenMuteItem();
    EXPECT_TRUE(window().netReceiveButton()->isVisibleTo(&window()));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::uint32_t channels = world.device->totalNumberChannels();
        koru::test::clickCheckBox(*c.button);
        flushEvents();
        ASSERT_NE(c.wrapper(), nullptr);
        EXPECT_TRUE(c.button->isChecked());
        EXPECT_EQ(world.device->totalNumberChannels(), channels + 2);

        koru::test::clickCheckBox(*c.button);
        flushEvents();
        EXPECT_EQ(c.wrapper(), nullptr);
        EXPECT_FALSE(c.button->isChecked());
        EXPECT_EQ(world.device->totalNumberChannels(), channels);
        EXPECT_FALSE(mute->isEnabled());
    }
    EXPECT_TRUE(world.alerts->shown.empty());
}

// During a recording the player's window closes but the player stays, and the button says so.
TEST_F(AudioSettingsWindowTest, DuringARecordingTheFilePlayerButtonOnlyClosesThePlayersWindow) {
    QCheckBox& button = *window().filePlayerButton();
    koru::test::clickCheckBox(button);
    auto* player = dynamic_cast<KOAuxInWrapper*>(world.device->filePlayer());
    ASSERT_NE(player, nullptr);
    EXPECT_TRUE(player->isWindowVisible());

    world.device->getKOAD()->EnterSafeMode();
    koru::test::clickCheckBox(button);
    world.device->getKOAD()->LeaveSafeMode();
    EXPECT_EQ(world.alerts->titles(), QStringList({"Can't change Audio Settings"}));
    EXPECT_EQ(world.device->filePlayer(), player);
    EXPECT_FALSE(player->isWindowVisible());
    EXPECT_TRUE(button.isChecked());

    koru::test::clickCheckBox(button);
    EXPECT_EQ(world.device->filePlayer(), nullptr);
    EXPECT_FALSE(button.isChecked());
}

// The mute item is on only while a generator exists, and its mark follows every mute change:
// its own, the generator window's and an instrument's wish.
TEST_F(AudioSettingsWindowTest, TheMuteItemFollowsTheSignalGenerator) {
    QAction* mute = window().toggleSigGenMuteItem();
    QMenu* audio = menuTitled(*world.app->mainWindow(), QStringLiteral("Audio"));
    ASSERT_NE(audio, nullptr);
    EXPECT_TRUE(audio->actions().contains(mute));
    EXPECT_FALSE(mute->isEnabled());

    koru::test::clickCheckBox(*window().sigGenButton());
    auto* generator = dynamic_cast<KOSignalGeneratorWrapper*>(world.device->signalGenerator());
    ASSERT_NE(generator, nullptr);
    EXPECT_TRUE(mute->isEnabled());
    EXPECT_FALSE(mute->isChecked());

    struct Step {
        const char* what;
        std::function<void()> act;
        bool muted;
    };
    const Step steps[] = {
        {"the menu item", [&] { mute->trigger(); }, true},
        {"the menu item again", [&] { mute->trigger(); }, false},
        {"the generator's window", [&] { koru::test::clickCheckBox(*generator->muteCheckBox()); },
         true},
        {"a pausing instrument's wish to play",
         [&] { world.app->shouldSetSigGenMuteStatus(false); }, false},
        {"a pausing instrument's wish to mute", [&] { world.app->shouldSetSigGenMuteStatus(true); },
         true},
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(step.what);
        step.act();
        EXPECT_EQ(generator->mute(), step.muted);
        EXPECT_EQ(mute->isChecked(), step.muted);
    }

    koru::test::clickCheckBox(*window().sigGenButton());
    EXPECT_FALSE(mute->isEnabled());
    EXPECT_FALSE(mute->isChecked());
}

// The clip check boxes are views of the device's and the notification centre's flags.
TEST_F(AudioSettingsWindowTest, TheClipCheckBoxesShowAndSetTheirOwnersFlags) {
    QCheckBox& post = *window().postOnClipCheckBox();
    QCheckBox& stays = *window().clipStaysOnScreenCheckBox();
    world.device->setPostGrowlNotificationOnClip(true);
    world.app->audioPropertiesChanged();
    EXPECT_TRUE(post.isChecked());
    koru::test::clickCheckBox(post);
    EXPECT_FALSE(world.device->postGrowlNotificationOnClip());

    EXPECT_FALSE(stays.isChecked());
    koru::test::clickCheckBox(stays);
    EXPECT_TRUE(world.notifications.growlClipNotificationStaysOnScreen());
    world.notifications.setGrowlClipNotificationStaysOnScreen(false);
    world.app->audioPropertiesChanged();
    EXPECT_FALSE(stays.isChecked());
}

} // namespace

namespace {

// A patch change reaches the instruments once, however often the window was refreshed, and
// only from the matrix the device uses now.
TEST(AudioSettingsWindowPatch, APatchChangeIsPassedOnOncePerChange) {
    auto alerts = std::make_shared<koru::test::RecordingAlerts>();
    KOAudioDevice::Services deviceServices;
    deviceServices.alerts = alerts;
    KOAudioDevice device(deviceServices);
    int passedOn = 0;
    KOAudioSettingsWindow::Services services;
    services.audioDevice = &device;
    services.patchHasChanged = [&] { ++passedOn; };
    KOAudioSettingsWindow window(services);
    for (int i = 0; i < 3; ++i)
        window.audioPropertiesChanged();

    const std::shared_ptr<KOPatchMatrix> first = device.inputPatchMatrix();
    first->setSourceChannel(0, 0);
    EXPECT_EQ(passedOn, 1);

    // The device drops its matrix on a property change; the next refresh follows the new one.
    device.invalidateCachedValues();
    window.audioPropertiesChanged();
    window.audioPropertiesChanged();
    const std::shared_ptr<KOPatchMatrix> second = device.inputPatchMatrix();
    ASSERT_NE(second, first);
    first->setSourceChannel(0, 0);
    EXPECT_EQ(passedOn, 1);
    second->setSourceChannel(0, 0);
    EXPECT_EQ(passedOn, 2);
    device.stop();
}

} // namespace
