#include "inputpatch/ui/KOInputPatchController.h"

#include "PatchViewTestSupport.h"

#include "engine/KOAudioDevice.h"
#include "engine/KODataCollectorThread.h"
#include "inputpatch/ui/KOInputPatchView.h"
#include "platform/audio/DeviceRegistry.h"
#include "platform/defaults/UserDefaults.h"
#include "support/TestSupport.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QDir>
#include <QKeyEvent>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QTest>

#include <gtest/gtest.h>

#include <memory>
#include <vector>

namespace {

using koru::platform::DeviceRegistry;
using koru::platform::UserDefaults;
using koru::platform::VirtualInputConfig;

const QString kPatchKey = QStringLiteral("AudioDevice.InputPatchMatrixDictionary");
const QString kUIDKey = QStringLiteral("AudioDevice.UID");

void flushEvents() {
    for (int i = 0; i < 3; ++i)
        QCoreApplication::processEvents();
}

// The entries of the engine's input channel map that feed hardware channels.
std::vector<std::int32_t> engineChannelMap(KOAD& engine) {
    std::vector<std::int32_t> map(KOAD::kMaxChannels);
    std::uint32_t size = std::uint32_t(map.size() * sizeof(std::int32_t));
    engine.GetProperty(kAudioOutputUnitProperty_ChannelMap, map.data(), &size, 1,
                       kAudioUnitScope_Input);
    map.resize(std::min<std::size_t>(size / sizeof(std::int32_t), engine.HardwareChannels()));
    return map;
}

class InputPatchWindowTest : public testing::Test {
protected:
    void SetUp() override {
        two = addDevice(QStringLiteral("Device Two"), 2);
        eight = addDevice(QStringLiteral("Device Eight"), 8);
        one = addDevice(QStringLiteral("Device One"), 1);
        many = addDevice(QStringLiteral("Device Many"), 32);
        collector = KODataCollectorThread::createPrivate();
        KOAudioDevice::Services services;
        services.collector = collector.get();
        device = std::make_unique<KOAudioDevice>(services);
        device->createAudioDevice(two);
        flushEvents();
        static int stores = 0;
        defaults = std::make_unique<UserDefaults>(
            QDir(koru::test::testRoot()).filePath(QStringLiteral("patch-%1.plist").arg(++stores)));
    }

    void TearDown() override {
        window.reset();
        device.reset();
        for (const std::uint32_t id : devices)
            registry.removeDevice(id);
    }

    std::uint32_t addDevice(const QString& name, std::uint32_t channels) {
        VirtualInputConfig config;
        config.name = name;
        config.channels = channels;
        config.manual = true;
        devices.push_back(registry.addVirtualInput(config));
        return devices.back();
    }

    void open() {
        window = std::make_unique<KOInputPatchController>(*device, *defaults);
        window->move(100, 300);
        window->showWindow();
        flushEvents();
    }
    KOInputPatchView& view() { return *window->patchView(); }
    void clickCell(std::int32_t source, std::int32_t destination) {
        QTest::mouseClick(&view(), Qt::LeftButton, {},
                          view().cellRect(source, destination).center().toPoint());
    }
    void pressKey(Qt::Key code) {
        // Sent to the window, as when the focus is on one of its other controls.
        QKeyEvent press(QEvent::KeyPress, code, Qt::NoModifier);
        QCoreApplication::sendEvent(window.get(), &press);
    }
    std::vector<std::int32_t> engineMap() { return engineChannelMap(*device->getKOAD()); }
    QPoint bottomLeft() const { return window->geometry().bottomLeft(); }

    DeviceRegistry& registry = DeviceRegistry::shared();
    std::vector<std::uint32_t> devices;
    std::uint32_t two = 0, eight = 0, one = 0, many = 0;
    std::unique_ptr<KODataCollectorThread> collector;
    std::unique_ptr<KOAudioDevice> device;
    std::unique_ptr<UserDefaults> defaults;
    std::unique_ptr<KOInputPatchController> window;
};

TEST_F(InputPatchWindowTest, ShowsTheDevicesPatchAndEditsReachTheEngine) {
    open();
    EXPECT_EQ(window->windowTitle(), QStringLiteral("Input Patch"));
    ASSERT_EQ(view().patchMatrix(), device->inputPatchMatrix());
    EXPECT_EQ(view().labelWidth(), view().idealLabelWidth());

    clickCell(0, 1);
    EXPECT_EQ(engineMap(), (std::vector<std::int32_t>{0, 0}));
    EXPECT_EQ(device->nameForChannelAtIndex(1), QStringLiteral("(2) Device Two 1"));

    // Keys patch wherever the window's focus is.
    view().setSelection(1, 0);
    pressKey(Qt::Key_Space);
    EXPECT_EQ(engineMap(), (std::vector<std::int32_t>{1, 0}));
    pressKey(Qt::Key_Down);
    EXPECT_EQ(view().selectedDestination(), 1);

    QTest::mouseClick(window->clearPatchButton(), Qt::LeftButton);
    EXPECT_EQ(engineMap(), (std::vector<std::int32_t>{0, 1}));

    device->inputPatchMatrix()->setDestinationChannelAlias(QStringLiteral("Kick"), 0);
    EXPECT_EQ(device->nameForChannelAtIndex(0), QStringLiteral("(1) Kick"));
    QTest::mouseClick(window->clearAliasesButton(), Qt::LeftButton);
    EXPECT_EQ(device->nameForChannelAtIndex(0), QStringLiteral("(1) Device Two 1"));
}

TEST_F(InputPatchWindowTest, MousePermissionIsAUserDefaultThatSurvivesARestart) {
    const QString key = QString::fromLatin1(KOInputPatchController::kCanPatchWithMouseDefault);
    ASSERT_FALSE(defaults->objectForKey(key).isValid());
    open();
    EXPECT_TRUE(window->canPatchWithMouse());
    EXPECT_TRUE(window->canPatchWithMouseBox()->isChecked());
    EXPECT_EQ(defaults->objectForKey(key), QVariant(true));

    QTest::mouseClick(window->canPatchWithMouseBox(), Qt::LeftButton);
    EXPECT_FALSE(window->canPatchWithMouse());
    window.reset();
    defaults->reload();
    EXPECT_EQ(defaults->objectForKey(key), QVariant(false));

    open();
    EXPECT_FALSE(window->canPatchWithMouse());
    EXPECT_FALSE(window->canPatchWithMouseBox()->isChecked());
    clickCell(1, 0);
    EXPECT_EQ(engineMap(), (std::vector<std::int32_t>{0, 1}));
    view().setSelection(1, 0);
    pressKey(Qt::Key_Return);
    EXPECT_EQ(engineMap(), (std::vector<std::int32_t>{1, 1}));
}

TEST_F(InputPatchWindowTest, TheWindowFollowsTheDevicesChannelCount) {
    open();
    const QPoint corner = bottomLeft();
    const int smallHeight = window->height();
    EXPECT_EQ(window->scrollArea()->maximumViewportSize().height(),
              view().preferredSize().height());

    device->setAudioObjectID(eight);
    flushEvents();
    ASSERT_EQ(view().patchMatrix(), device->inputPatchMatrix());
    ASSERT_EQ(view().patchMatrix()->numChannels(), 8u);
    // The grid shows every cell, the bottom-left corner stays.
    EXPECT_EQ(window->scrollArea()->maximumViewportSize().height(),
              view().preferredSize().height());
    EXPECT_GE(window->scrollArea()->maximumViewportSize().width(), view().preferredSize().width());
    EXPECT_EQ(bottomLeft(), corner);
    EXPECT_EQ(window->height(), smallHeight + 6 * 16);

    device->setAudioObjectID(one);
    flushEvents();
    ASSERT_EQ(view().patchMatrix()->numChannels(), 1u);
    EXPECT_EQ(bottomLeft(), corner);
    // Never below the window's minimum: its controls are wider than one channel's grid.
    EXPECT_EQ(window->width(), window->minimumWidth());
    EXPECT_GE(window->scrollArea()->maximumViewportSize().width(), view().preferredSize().width());

    // More than the screen can show: the window stops at the screen's edges and scrolls.
    device->setAudioObjectID(many);
    flushEvents();
    ASSERT_EQ(view().patchMatrix()->numChannels(), 32u);
    view().setMatrixHeight(30.0);
    window->syncWithCurrentInputPatchMatrix();
    flushEvents();
    const QRect screen = window->screen()->availableGeometry();
    ASSERT_GT(view().preferredSize().height(), screen.height());
    EXPECT_TRUE(screen.contains(window->frameGeometry())) << window->frameGeometry().y();
    EXPECT_GE(view().height(), view().preferredSize().height());
    EXPECT_GT(window->scrollArea()->verticalScrollBar()->maximum(), 0);
    // Keys scroll the selected cell into sight.
    view().setSelection(31, 30);
    pressKey(Qt::Key_Down);
    EXPECT_EQ(view().selectedDestination(), 31);
    const QRect cell = view().cellRect(31, 31).toAlignedRect();
    const QRect shown(-view().pos(), window->scrollArea()->viewport()->size());
    EXPECT_TRUE(shown.contains(cell)) << shown.y() << " " << cell.y();
}

TEST_F(InputPatchWindowTest, ASavedPatchOfAnotherLayoutIsFittedAndShown) {
    open();
    const auto shownBefore = view().patchMatrix();
    koru::test::LogLines log;
    const QVariantMap patch{
        {"KOPatchMatrix.matrixSize", 5},
        {"KOPatchMatrix.sourceChannelArray", QVariantList{1, 0, 4, 3, 2}},
        {"KOPatchMatrix.destinationAliasDictionary", QVariantMap{{"Device Two-1", "Bass"}}},
    };
    device->loadSettingsFromDictionary(
        QVariantMap{{kUIDKey, QStringLiteral("virtual:Device Two")}, {kPatchKey, patch}});
    flushEvents();

    EXPECT_EQ(log.count("does not match the device's 2 inputs; fitted"), 1);
    ASSERT_NE(view().patchMatrix(), shownBefore);
    ASSERT_EQ(view().patchMatrix(), device->inputPatchMatrix());
    EXPECT_EQ(view().patchMatrix()->numChannels(), 2u);
    EXPECT_EQ(view().patchMatrix()->humanReadableDestinationNameAtIndex(1), QStringLiteral("Bass"));
    EXPECT_EQ(engineMap(), (std::vector<std::int32_t>{1, 0}));

    // Edits from the window reach the restored patch.
    clickCell(1, 1);
    EXPECT_EQ(engineMap(), (std::vector<std::int32_t>{1, 1}));
}

} // namespace
