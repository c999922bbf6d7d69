#include "app/InstrumentRegistry.h"
#include "engine/KOAudioDevice.h"
#include "framework/KOInstrumentControllerDelegate.h"
#include "netaudio/ui/KONetSendController.h"
#include "netaudio/ui/NetAudioInstruments.h"
#include "platform/audio/DeviceRegistry.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include <QCoreApplication>

#include <gtest/gtest.h>

#include <thread>

using koru::netaudio::NetStatus;

namespace {

class QuietDelegate : public KOInstrumentControllerDelegate {
public:
    void removeInstrument(KOInstrumentController*) override {}
    void instrumentDidHide(KOInstrumentController*) override {}
    void instrumentDidUnhide(KOInstrumentController*) override {}
    void setCurrentInstrument(KOInstrumentController*) override {}
    void instrumentDidResignCurrent(KOInstrumentController*) override {}
    void shouldSetSigGenMuteStatus(bool) override {}
    void instrumentControllerDidChangeName(KOInstrumentController*) override {}
    double audioDeviceSampleRate() override { return 48000.0; }
    std::uint32_t preferredOutputDevice() override { return 0; }
};

class NetSendWindow : public ::testing::Test {
protected:
    void SetUp() override {
        static std::uint32_t device = [] {
            koru::platform::VirtualInputConfig config;
            config.name = QStringLiteral("Net Send Pair");
            config.channels = 2;
            config.sampleRate = 48000.0;
            config.channelSignals = {koru::platform::VirtualSignal::silence(),
                                     koru::platform::VirtualSignal::silence()};
            config.manual = true;
            const std::uint32_t id =
                koru::platform::DeviceRegistry::shared().addVirtualInput(config);
            KOAudioDevice::sharedAudioDevice().setAudioObjectID(id);
            KOAudioDevice::sharedAudioDevice().start();
            return id;
        }();
        (void)device;
        registerNetAudioInstruments(registry);
    }
    std::unique_ptr<KONetSendController> restore(const QVariantMap& dictionary) {
        auto made = registry.createFromDictionary(dictionary, &delegate);
        auto* send = dynamic_cast<KONetSendController*>(made.get());
        EXPECT_NE(send, nullptr);
        if (!send)
            return nullptr;
        made.release();
        return std::unique_ptr<KONetSendController>(send);
    }
    std::unique_ptr<KONetSendController> make() {
        return KOInstrumentController::create<KONetSendController>(KONetSendController::kNibName,
                                                                   nullptr, &delegate);
    }
    QuietDelegate delegate;
    koru::InstrumentRegistry registry;
};

TEST_F(NetSendWindow, NewSendersAreNumberedInOrderOfCreation) {
    auto a = make();
    auto b = make();
    auto c = make();
    const QString first = a->name();
    ASSERT_TRUE(first.startsWith(QStringLiteral("KORU Net Send "))) << first.toStdString();
    const int n = first.mid(14).toInt();
    EXPECT_EQ(b->name(), QStringLiteral("KORU Net Send %1").arg(n + 1));
    EXPECT_EQ(c->name(), QStringLiteral("KORU Net Send %1").arg(n + 2));
    EXPECT_EQ(a->instrument()->Unit().serviceName(), first.toStdString());
    EXPECT_TRUE(a->canBeClosed());
}

TEST_F(NetSendWindow, RestoredSettingsClampApplyAndSaveBack) {
    const QVariantMap saved = {
        {KOInstrumentController::kTypeKey, QStringLiteral("KONetSendController")},
        {KOInstrumentController::kNameKey, QStringLiteral("Stage left")},
        {KONetSendController::kChannel1Key, qint64(40)},
        {KONetSendController::kChannel2Key, qint64(0)},
        {KONetSendController::kFormatKey, qint64(12)}, // not offered by the menu
        {KONetSendController::kPasswordKey, QStringLiteral("front of house")}};
    auto send = restore(saved);
    ASSERT_TRUE(send);
    EXPECT_EQ(send->name(), QStringLiteral("Stage left"));
    EXPECT_EQ(send->inChannelA(), 1) << "channel 40 on a two-channel device";
    EXPECT_EQ(send->inChannelB(), 0);
    EXPECT_EQ(send->instrument()->Unit().formatIndex(), 12u);
    EXPECT_EQ(send->instrument()->Unit().password(), "front of house");

    const QVariantMap again = send->dictionaryRepresentation();
    EXPECT_EQ(again.value(KONetSendController::kChannel1Key).toLongLong(), 1);
    EXPECT_EQ(again.value(KONetSendController::kChannel2Key).toLongLong(), 0);
    EXPECT_EQ(again.value(KONetSendController::kFormatKey).toLongLong(), 12);
    EXPECT_EQ(again.value(KONetSendController::kPasswordKey).toString(),
              QStringLiteral("front of house"));
    send.reset();
    // The saved form restores to the same settings.
    auto back = restore(again);
    ASSERT_TRUE(back);
    EXPECT_EQ(back->inChannelA(), 1);
    EXPECT_EQ(back->instrument()->Unit().formatIndex(), 12u);
    EXPECT_EQ(back->instrument()->Unit().password(), "front of house");
}

TEST_F(NetSendWindow, StatusShowsTextLightAndButton) {
    auto send = make();
    struct Case {
        int status;
        const char* text;
        const char* colour;
        const char* button;
    };
    const Case cases[] = {{5, "Listening", "#e6c619", "Connect"},
                          {3, "Underflow", "#e6c619", "Connect"},
                          {0, "Not Connected", "#d83a2e", "Connect"},
                          {1, "Connected", "#2fbf3a", "Disconnect"},
                          {9, "", "#d83a2e", "Connect"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.status);
        send->showStatus(NetStatus(c.status));
        EXPECT_EQ(send->statusField()->text(), QString::fromLatin1(c.text));
        EXPECT_EQ(send->statusLight()->property("statusColour").toString(),
                  QString::fromLatin1(c.colour));
        EXPECT_EQ(send->connectButton()->text(), QString::fromLatin1(c.button));
    }
    EXPECT_FALSE(send->canBeClosed()) << "once connected the window stays";
    EXPECT_FALSE(send->setPort(0));
    EXPECT_FALSE(send->setPort(70000));
    ASSERT_EQ(send->formatMenu()->count(), 5);
    EXPECT_EQ(send->formatMenu()->itemText(4), QStringLiteral("IMA-4"));
}

// The port field shows the port the sender listens on from the start, and where it moved to
// when the one asked for was taken.
TEST_F(NetSendWindow, ThePortFieldShowsThePortListenedOn) {
    auto first = make();
    const std::uint16_t port = first->instrument()->Unit().port();
    ASSERT_NE(port, 0);
    EXPECT_EQ(first->portField()->text(), QString::number(port));

    auto second = make();
    second->portField()->setText(QString::number(port)); // taken by the first
    emit second->portField()->editingFinished();
    const std::uint16_t moved = second->instrument()->Unit().port();
    EXPECT_NE(moved, 0);
    EXPECT_NE(moved, port);
    EXPECT_EQ(second->portField()->text(), QString::number(moved));

    second->portField()->setText(QStringLiteral("70000")); // refused: the port stays
    emit second->portField()->editingFinished();
    EXPECT_EQ(second->instrument()->Unit().port(), moved);
    EXPECT_EQ(second->portField()->text(), QString::number(moved));
}

// A report from the network thread reaches the window on the GUI thread, through its listener.
TEST_F(NetSendWindow, StatusReportsReachTheWindowOnItsThread) {
    auto send = make();
    koru::netaudio::NetStatusListener* listener = send->statusListener();
    ASSERT_NE(listener, nullptr);
    EXPECT_EQ(send->statusField()->text(), QStringLiteral("Listening")) << "shown at creation";
    std::thread network([listener] { listener->report(NetStatus::Overflow); });
    network.join();
    EXPECT_EQ(send->statusField()->text(), QStringLiteral("Listening"));
    QCoreApplication::processEvents();
    EXPECT_EQ(send->statusField()->text(), QStringLiteral("Overflow"));
}

} // namespace
