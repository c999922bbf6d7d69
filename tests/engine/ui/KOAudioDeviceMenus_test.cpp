#include "engine/KOAudioDevice.h"

#include "engine/KODataCollectorThread.h"
#include "engine/ui/DesktopPresenters.h"
#include "engine/ui/KOAudioDeviceMenus.h"
#include "engine/ui/SummingChannelDelegate.h"
#include "engine/ui/SummingChannelTableModel.h"
#include "platform/audio/DeviceRegistry.h"
#include "support/TestSupport.h"
#include "utility/ui/KOInfoPanel.h"

#include <QAction>
#include <QComboBox>
#include <QCoreApplication>
#include <QLabel>
#include <QMenu>
#include <QStyleOptionViewItem>
#include <QWidget>

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <vector>

using koru::AuxInputKind;
using koru::platform::DeviceRegistry;
using koru::platform::VirtualInputConfig;

namespace {

void flushEvents() {
    for (int i = 0; i < 3; ++i) {
        QCoreApplication::processEvents();
    }
}

// Two channels of a constant, named after the input.
class NamedAux : public KOAuxInput {
public:
    std::uint32_t NumberOfChannels() const override { return 2; }
    void Start() override {}
    void Render(AudioBufferList*, std::uint32_t, std::uint32_t) override {}
    QString Name(int channel) const override {
        return QStringLiteral("Player %1").arg(channel + 1);
    }
};

class PlayerWrapper : public koru::AuxInputWrapper {
public:
    KOAuxInput* auxInput() override { return &mInput; }
    void showWindow(const void*) override {}
    QVariantMap dictionaryRepresentation() const override { return {}; }

private:
    NamedAux mInput;
};

class ScriptedAlerts : public koru::AlertPresenter {
public:
    Response runModal(const koru::Alert&) override { return Response::Alternate; }
};

QStringList titles(const QMenu& menu) {
    QStringList result;
    for (const QAction* item : menu.actions()) {
        result.append(item->text());
    }
    return result;
}

std::vector<int> tags(const QMenu& menu) {
    std::vector<int> result;
    for (const QAction* item : menu.actions()) {
        result.push_back(item->data().toInt());
    }
    return result;
}

// A device on a two-channel virtual input whose file player names its channels "Player 1/2".
class AudioDeviceMenusTest : public ::testing::Test {
protected:
    void SetUp() override {
        two = addDevice(QStringLiteral("Device Two"), 2, 48000.0);
        collector = KODataCollectorThread::createPrivate();
        KOAudioDevice::Services services;
        services.collector = collector.get();
        services.alerts = std::make_shared<ScriptedAlerts>();
        device = std::make_unique<KOAudioDevice>(services);
        koru::AuxInputWrapperFactory factory;
        factory.create = [] { return std::make_unique<PlayerWrapper>(); };
        device->setAuxInputWrapperFactory(AuxInputKind::FilePlayer, factory);
        device->createAudioDevice(two);
        flushEvents();
    }

    void TearDown() override {
        device.reset();
        for (const std::uint32_t id : devices) {
            registry.removeDevice(id);
        }
    }

    std::uint32_t addDevice(const QString& name, std::uint32_t channels, double rate) {
        VirtualInputConfig config;
        config.name = name;
        config.channels = channels;
        config.sampleRate = rate;
        config.manual = true;
        devices.push_back(registry.addVirtualInput(config));
        return devices.back();
    }

    DeviceRegistry& registry = DeviceRegistry::shared();
    std::vector<std::uint32_t> devices;
    std::uint32_t two = 0;
    std::unique_ptr<KODataCollectorThread> collector;
    std::unique_ptr<KOAudioDevice> device;
};

} // namespace

TEST_F(AudioDeviceMenusTest, MenusAreFreshCheckableAndTaggedWithTheChannel) {
    device->addFilePlayer();
    device->addSummingChannel();
    device->inputPatchMatrix()->setDestinationChannelAlias(QStringLiteral("Left"), 1);

    const auto input = KOAudioDeviceMenus::inputChannelMenu(*device);
    EXPECT_EQ(input->title(), QStringLiteral("Input Channel"));
    EXPECT_EQ(titles(*input),
              (QStringList{"(1) Device Two 1", "(2) Left", "Player 1", "Player 2",
                           "Device Two 1 + Device Two 1", "Device Two 1 - Device Two 1"}));
    EXPECT_EQ(tags(*input), (std::vector<int>{0, 1, 2, 3, 4, 5}));
    const auto actions = input->actions();
    EXPECT_TRUE(std::all_of(actions.begin(), actions.end(), [](const QAction* item) {
        return item->isCheckable() && !item->isChecked();
    }));

    // Each pop-up button owns its menu: a second call builds another one.
    const auto again = KOAudioDeviceMenus::inputChannelMenu(*device);
    EXPECT_NE(again.get(), input.get());
    EXPECT_EQ(titles(*again), titles(*input));

    const auto native = KOAudioDeviceMenus::nativeAndAuxChannelMenu(*device);
    EXPECT_EQ(native->title(), QStringLiteral("Input Channel"));
    EXPECT_EQ(tags(*native), (std::vector<int>{0, 1, 2, 3}));
}

TEST_F(AudioDeviceMenusTest, ASummingCellsMenuOffersNoSummingChannelAndSelectsItsSource) {
    device->addSummingChannel();
    device->addSummingChannel();
    device->setSummingTableValue(1, QStringLiteral("cha"), 1);

    int selected = -1;
    const auto menu =
        KOAudioDeviceMenus::summingTableMenu(*device, QStringLiteral("cha"), 1, &selected);
    EXPECT_EQ(selected, 1);
    EXPECT_EQ(tags(*menu), (std::vector<int>{0, 1}));
    EXPECT_EQ(KOAudioDeviceMenus::summingTableMenu(*device, QStringLiteral("chb"), 1, nullptr)
                  ->actions()
                  .size(),
              2);
}

TEST_F(AudioDeviceMenusTest, TheSummingTableFollowsTheDeviceAndEditsThroughAPopUp) {
    koru::SummingChannelTableModel model(*device);
    koru::SummingChannelDelegate delegate(*device);
    int resets = 0;
    QObject::connect(&model, &QAbstractItemModel::modelReset, [&] { ++resets; });
    device->addFilePlayer();
    device->addSummingChannel();
    flushEvents();
    ASSERT_GT(resets, 0);
    ASSERT_EQ(model.rowCount(), 1);
    EXPECT_EQ(model.headerData(1, Qt::Horizontal, koru::SummingChannelTableModel::kIdentifierRole),
              QVariant(QStringLiteral("chb")));

    const QModelIndex b = model.index(0, 1);
    QWidget parent;
    std::unique_ptr<QWidget> editor(delegate.createEditor(&parent, QStyleOptionViewItem(), b));
    auto* popUp = qobject_cast<QComboBox*>(editor.get());
    ASSERT_NE(popUp, nullptr);
    // Hardware and auxiliary channels only: a summing channel cannot feed another.
    EXPECT_EQ(popUp->count(), 4);
    delegate.setEditorData(popUp, b);
    EXPECT_EQ(popUp->currentIndex(), 0);

    popUp->setCurrentIndex(3);
    delegate.setModelData(popUp, &model, b);
    EXPECT_EQ(device->summingTableValue(QStringLiteral("chb"), 0).toUInt(), 3u);
    EXPECT_EQ(model.data(b, Qt::DisplayRole).toString(), QStringLiteral("Player 2"));
    EXPECT_EQ(model.data(model.index(0, 0), Qt::DisplayRole).toString(),
              QStringLiteral("(1) Device Two 1"));
    EXPECT_FALSE(model.setData(b, QStringLiteral("x"), Qt::DisplayRole));
}

TEST_F(AudioDeviceMenusTest, OnTheDesktopADeviceChangeShowsInTheInfoPanel) {
    const std::uint32_t eight = addDevice(QStringLiteral("Device Eight"), 8, 96000.0);
    koru::installDesktopPresenters(*device);
    // An unexpected alert fails the test instead of waiting for a click that never comes.
    device->setAlertPresenter(std::make_shared<ScriptedAlerts>());

    device->setAudioObjectID(eight);
    flushEvents();

    EXPECT_EQ(KOInfoPanel::sharedInfoPanel().firstLine()->text(), QStringLiteral("Device Eight"));
    EXPECT_EQ(KOInfoPanel::sharedInfoPanel().secondLine()->text(),
              QStringLiteral("Sample Rate: 96000Hz"));
}
