#include "netaudio/ui/KOAuxNetReceiveWrapper.h"

#include "engine/EngineTestSupport.h"
#include "engine/KOAudioDevice.h"
#include "engine/KODataCollectorThread.h"
#include "netaudio/NetSendUnit.h"
#include "netaudio/ui/NetStatusLight.h"
#include "platform/audio/DeviceRegistry.h"
#include "platform/plist/PropertyList.h"
#include "support/TestSupport.h"

#include <QApplication>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollArea>
#include <QSlider>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

using koru::netaudio::NetSendUnit;
using koru::netaudio::NetStatus;
using koru::test::ManualOutput;
using namespace std::chrono_literals;

namespace {

// Runs the event loop until the network threads bring the condition about; the deadline only
// stops a broken build from hanging the suite.
bool eventually(const std::function<bool()>& condition) {
    const auto deadline = std::chrono::steady_clock::now() + 20s;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        QCoreApplication::processEvents();
        std::this_thread::sleep_for(2ms);
    }
    return true;
}

class NetReceiveWindowTest : public ::testing::Test {
protected:
    KOAuxNetReceiveWrapper::Services services() {
        KOAuxNetReceiveWrapper::Services made;
        made.output = [this]() -> std::unique_ptr<koru::platform::AudioUnitInstance> {
            auto output = std::make_unique<ManualOutput>(48000.0, true);
            mOutputs.push_back(output.get());
            return output;
        };
        made.clock = [this] { return mNow; };
        return made;
    }

    static int rowOf(const KOAuxNetReceiveWrapper& w, const QString& name) {
        for (int row = 0; row < w.serviceTable()->rowCount(); ++row)
            if (w.serviceTable()->item(row, 0)->text() == name)
                return row;
        return -1;
    }
    static QString colour(const KOAuxNetReceiveWrapper& w) {
        return w.statusLight()->property("statusColour").toString();
    }
    // Lets the status listener's second pass and hands over what it held back.
    void secondPasses(KOAuxNetReceiveWrapper& w) {
        mNow += 1s;
        w.control()->listener()->deliverPending();
    }
    // Waits for the receiver to reach `status`, then for the window to show it.
    bool windowShows(KOAuxNetReceiveWrapper& w, NetStatus status) {
        const QString text = QString::fromLatin1(koru::netaudio::netStatusText(int(status)));
        return eventually([&] {
            if (w.statusField()->text() == text)
                return true;
            if (w.control()->status() == status && w.control()->listener()->pending() == status)
                secondPasses(w);
            return false;
        });
    }
    static void doubleClickRow(QTableWidget* table, int row) {
        QCoreApplication::processEvents(); // the laid-out table
        const QRect cell = table->visualItemRect(table->item(row, 0));
        ASSERT_TRUE(table->viewport()->rect().contains(cell.center()))
            << cell.x() << "," << cell.y() << " in " << table->viewport()->width() << "x"
            << table->viewport()->height();
        // The first click of a double-click arrives as a press of its own, as from a mouse.
        QTest::mousePress(table->viewport(), Qt::LeftButton, {}, cell.center());
        QTest::mouseDClick(table->viewport(), Qt::LeftButton, {}, cell.center());
    }

    std::chrono::steady_clock::time_point mNow{};
    std::vector<ManualOutput*> mOutputs;
};

TEST_F(NetReceiveWindowTest, ANewReceiverShowsItsWindowAt0dBWithNothingConnected) {
    const auto wrapper = KOAuxNetReceiveWrapper::make(services());
    ASSERT_NE(wrapper, nullptr);
    ASSERT_NE(wrapper->netReceive(), nullptr);
    EXPECT_EQ(wrapper->auxInput(), wrapper->netReceive());
    EXPECT_TRUE(wrapper->isWindowVisible());
    EXPECT_EQ(wrapper->window()->objectName(), QStringLiteral("netreceive"));
    EXPECT_EQ(wrapper->window()->windowTitle(), QStringLiteral("Net Receive"));
    EXPECT_EQ(wrapper->netReceive()->Volume(), 1.0f);
    EXPECT_EQ(wrapper->volumeTextField()->text(), QStringLiteral("0.0 dB"));
    EXPECT_EQ(wrapper->volumeSlider()->value(), wrapper->volumeSlider()->maximum());
    EXPECT_EQ(wrapper->serviceTable()->columnCount(), 1);
    EXPECT_EQ(wrapper->serviceTable()->horizontalHeaderItem(0)->data(Qt::UserRole).toString(),
              QStringLiteral("serviceName"));
    EXPECT_TRUE(wrapper->statusLight()->isHidden()) << "hidden until the first status report";
    EXPECT_TRUE(wrapper->hostField()->isHidden());
    EXPECT_EQ(wrapper->connectButton()->text(), QStringLiteral("Connect"));
    EXPECT_EQ(wrapper->netReceive()->Name(0), QStringLiteral("Net Receive 1"));
    EXPECT_EQ(wrapper->netReceive()->Name(1), QStringLiteral("Net Receive 2"));
    EXPECT_EQ(wrapper->scrollView()->widget()->objectName(), QStringLiteral("netReceiveControls"));
    wrapper->showWindow(nullptr);
    EXPECT_EQ(mOutputs.size(), 1u) << "showing the window again makes no second receiver";
}

// In order, as the receiver reports them: light, text, button and host field.
TEST_F(NetReceiveWindowTest, EachStatusShowsItsLightButtonAndHost) {
    const auto wrapper = KOAuxNetReceiveWrapper::make(services());
    struct Case {
        int status;
        const char* text;
        const char* colour;
        const char* button;
        bool hostShown;
    };
    const Case cases[] = {
        {4, "Connecting", koru::netaudio::kYellowLight, "Connect", false},
        {1, "Connected", koru::netaudio::kGreenLight, "Disconnect", true},
        {3, "Underflow", koru::netaudio::kYellowLight, "Connect", true},
        {2, "Overflow", koru::netaudio::kYellowLight, "Connect", true},
        {9, "", koru::netaudio::kRedLight, "Connect", true}, // unknown: red, host as it was
        {0, "Not Connected", koru::netaudio::kRedLight, "Connect", false},
        {5, "Listening", koru::netaudio::kYellowLight, "Connect", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.status);
        wrapper->showStatus(c.status);
        EXPECT_FALSE(wrapper->statusLight()->isHidden());
        EXPECT_EQ(wrapper->statusField()->text(), QString::fromLatin1(c.text));
        EXPECT_EQ(colour(*wrapper), QString::fromLatin1(c.colour));
        EXPECT_EQ(wrapper->connectButton()->text(), QString::fromLatin1(c.button));
        EXPECT_EQ(!wrapper->hostField()->isHidden(), c.hostShown);
    }
}

TEST_F(NetReceiveWindowTest, DoubleClickingAnEmptyTableDoesNothing) {
    const auto wrapper = KOAuxNetReceiveWrapper::make(services());
    QTableWidget* table = wrapper->serviceTable();
    table->setRowCount(0);
    QTest::mouseDClick(table->viewport(), Qt::LeftButton, {}, QPoint(10, 10));
    wrapper->connectButton()->click();
    wrapper->connectSelected();
    QCoreApplication::processEvents();
    EXPECT_EQ(wrapper->control()->host(), "");
    EXPECT_EQ(wrapper->control()->status(), NetStatus::NotConnected);
    EXPECT_TRUE(wrapper->statusLight()->isHidden());
}

// The whole way: a sender of this process appears in the table, a double-click connects to it,
// the light turns green with the host shown, and the sender's samples reach the engine's
// channels. The window is then drawn offscreen with its green light.
TEST_F(NetReceiveWindowTest, DoubleClickingAFoundSenderConnectsAndItsSamplesArrive) {
    NetSendUnit sender("KORU Net Send Window", "127.0.0.1");
    const auto wrapper = KOAuxNetReceiveWrapper::make(services());
    KOAuxInNetReceive& input = *wrapper->netReceive();
    input.SetEngineSampleRate(48000.0);
    input.Start();
    const QString name = QStringLiteral("KORU Net Send Window");
    ASSERT_TRUE(eventually([&] { return rowOf(*wrapper, name) >= 0; }));
    const int rows = wrapper->serviceTable()->rowCount();
    ASSERT_EQ(std::count_if(wrapper->browser()->names().begin(), wrapper->browser()->names().end(),
                            [&](const std::string& n) { return n == name.toStdString(); }),
              1);

    doubleClickRow(wrapper->serviceTable(), rowOf(*wrapper, name));
    EXPECT_EQ(wrapper->control()->host(), "127.0.0.1:" + std::to_string(sender.port()));
    ASSERT_TRUE(windowShows(*wrapper, NetStatus::Connected))
        << input.Receiver().lastError() << " / " << wrapper->statusField()->text().toStdString();
    EXPECT_EQ(colour(*wrapper), QString::fromLatin1(koru::netaudio::kGreenLight));
    EXPECT_EQ(wrapper->connectButton()->text(), QStringLiteral("Disconnect"));
    EXPECT_FALSE(wrapper->hostField()->isHidden());
    EXPECT_EQ(wrapper->hostField()->text(), QStringLiteral("127.0.0.1:%1").arg(int(sender.port())));
    EXPECT_EQ(wrapper->serviceTable()->rowCount(), rows);

    std::vector<float> l(1024, 0.25f), r(1024, -0.125f);
    ASSERT_TRUE(eventually([&] {
        sender.push(l.data(), r.data(), 1024);
        return input.Receiver().buffered() >= 8192;
    }));
    koru::test::BufferListStorage engine(4, 1024);
    bool arrived = false;
    for (int pass = 0; pass < 12 && !arrived; ++pass) {
        mOutputs.front()->pull();
        input.Render(engine.list(), 2, 1024);
        arrived = engine.channel(2).back() == 0.25f && engine.channel(3).back() == -0.125f;
    }
    EXPECT_TRUE(arrived);

    const QImage picture = wrapper->window()->grab().toImage();
    const QPoint centre =
        wrapper->statusLight()->mapTo(wrapper->window(), wrapper->statusLight()->rect().center());
    const qreal scale = picture.devicePixelRatio();
    EXPECT_EQ(picture.pixelColor(int(centre.x() * scale), int(centre.y() * scale)),
              QColor(QString::fromLatin1(koru::netaudio::kGreenLight)));

    // The button now disconnects, and the window follows.
    wrapper->connectButton()->click();
    ASSERT_TRUE(windowShows(*wrapper, NetStatus::NotConnected));
    EXPECT_EQ(colour(*wrapper), QString::fromLatin1(koru::netaudio::kRedLight));
    EXPECT_TRUE(wrapper->hostField()->isHidden());
    EXPECT_EQ(wrapper->connectButton()->text(), QStringLiteral("Connect"));
}

// A wrong password ends at "Not Connected" without retrying; the right one, typed into the
// field, connects.
TEST_F(NetReceiveWindowTest, AWrongPasswordShowsNotConnectedAndTheRightOneConnects) {
    NetSendUnit sender("KORU Net Send Window Password", "127.0.0.1");
    sender.setPassword(std::string("right"));
    const auto wrapper = KOAuxNetReceiveWrapper::make(services());
    const QString name = QStringLiteral("KORU Net Send Window Password");
    ASSERT_TRUE(eventually([&] { return rowOf(*wrapper, name) >= 0; }));

    QTest::keyClicks(wrapper->passwordField(), QStringLiteral("wrong"));
    doubleClickRow(wrapper->serviceTable(), rowOf(*wrapper, name));
    ASSERT_TRUE(eventually([&] { return !wrapper->netReceive()->Receiver().lastError().empty(); }));
    EXPECT_NE(wrapper->netReceive()->Receiver().lastError().find("refused"), std::string::npos);
    ASSERT_TRUE(windowShows(*wrapper, NetStatus::NotConnected));
    EXPECT_EQ(colour(*wrapper), QString::fromLatin1(koru::netaudio::kRedLight));

    wrapper->passwordField()->clear();
    QTest::keyClicks(wrapper->passwordField(), QStringLiteral("right"));
    doubleClickRow(wrapper->serviceTable(), rowOf(*wrapper, name));
    EXPECT_TRUE(windowShows(*wrapper, NetStatus::Connected))
        << wrapper->netReceive()->Receiver().lastError();
}

// A sender changing its format drops the receiver, which finds it again on the same port.
TEST_F(NetReceiveWindowTest, ASenderChangingItsFormatIsFoundAgain) {
    NetSendUnit sender("KORU Net Send Window Format", "127.0.0.1");
    const auto wrapper = KOAuxNetReceiveWrapper::make(services());
    const QString name = QStringLiteral("KORU Net Send Window Format");
    ASSERT_TRUE(eventually([&] { return rowOf(*wrapper, name) >= 0; }));
    doubleClickRow(wrapper->serviceTable(), rowOf(*wrapper, name));
    ASSERT_TRUE(windowShows(*wrapper, NetStatus::Connected));
    sender.setFormatIndex(5);
    ASSERT_TRUE(eventually([&] {
        return wrapper->netReceive()->Receiver().streamFormat().formatIndex == 5 &&
               wrapper->control()->status() == NetStatus::Connected;
    }));
    EXPECT_TRUE(windowShows(*wrapper, NetStatus::Connected));
    EXPECT_GE(rowOf(*wrapper, name), 0) << "still listed";
}

// Closing the window's controller while the stream runs and reports are on their way: the
// control object goes before the input, so nothing reaches a receiver or window that is gone.
TEST_F(NetReceiveWindowTest, GoingAwayWhileConnectedIsClean) {
    NetSendUnit sender("KORU Net Send Window Teardown", "127.0.0.1");
    for (int round = 0; round < 3; ++round) {
        SCOPED_TRACE(round);
        auto wrapper = KOAuxNetReceiveWrapper::make(services());
        wrapper->control()->connect("127.0.0.1", sender.port());
        ASSERT_TRUE(eventually([&] { return sender.status() == NetStatus::Connected; }));
        wrapper.reset();
        QCoreApplication::processEvents();
        ASSERT_TRUE(eventually([&] { return sender.status() == NetStatus::Listening; }));
    }
}

// ---- saved with the audio settings ------------------------------------------------------------

// The receiver goes into the settings and comes back: hidden or shown as it was, at 0 dB, its
// status parameter written. The settings pass through a property-list file under a
// decimal-comma locale on the way.
TEST_F(NetReceiveWindowTest, ASettingsRoundTripRestoresTheReceiver) {
    koru::test::ScopedLocale german("de_DE.UTF-8");
    if (!german.active())
        GTEST_SKIP() << "de_DE.UTF-8 is not installed";
    QTemporaryDir folder;
    koru::platform::VirtualInputConfig config;
    config.name = QStringLiteral("Net Receive Test Input");
    config.channels = 2;
    config.sampleRate = 48000.0;
    config.manual = true;
    auto& registry = koru::platform::DeviceRegistry::shared();
    const std::uint32_t input = registry.addVirtualInput(config);
    const auto collector = KODataCollectorThread::createPrivate();
    const auto makeDevice = [&] {
        KOAudioDevice::Services deviceServices;
        deviceServices.collector = collector.get();
        auto device = std::make_unique<KOAudioDevice>(deviceServices);
        device->setAuxInputWrapperFactory(koru::AuxInputKind::NetReceive,
                                          KOAuxNetReceiveWrapper::factory(services()));
        device->createAudioDevice(input);
        return device;
    };

    for (const bool visible : {false, true}) {
        SCOPED_TRACE(visible ? "visible" : "hidden");
        QVariant saved;
        {
            const auto device = makeDevice();
            EXPECT_TRUE(device->offersAuxInput(koru::AuxInputKind::NetReceive));
            device->addNetReceive();
            auto* wrapper = static_cast<KOAuxNetReceiveWrapper*>(device->netReceive());
            ASSERT_NE(wrapper, nullptr);
            EXPECT_EQ(device->nameForChannelAtIndex(2), QStringLiteral("Net Receive 1"));
            wrapper->setOutputVolume(0.3);
            if (!visible)
                wrapper->close();
            const QString file = folder.filePath(QStringLiteral("settings.plist"));
            ASSERT_TRUE(koru::platform::PropertyList::write(
                file, device->dictionaryRepresentation(), koru::platform::PlistFormat::Xml));
            const auto read = koru::platform::PropertyList::read(file);
            ASSERT_TRUE(read.ok()) << read.error.toStdString();
            saved = read.value;
        }
        const QVariantList aux =
            saved.toMap().value(QStringLiteral("AudioDevice.AuxInputs")).toList();
        ASSERT_EQ(aux.size(), 1);
        const QVariantMap entry = aux[0].toMap();
        EXPECT_EQ(entry.value(QStringLiteral("KOType")).toString(),
                  QStringLiteral("KOAuxNetReceiveWrapper"));
        EXPECT_EQ(entry.value(QStringLiteral("Window.IsVisible")).toInt(), visible ? 1 : 0);
        const QVariantMap parameters =
            entry.value(QStringLiteral("AuxInput.GeneratorAU.ParameterDictionary")).toMap();
        const QVariantList ids =
            parameters.value(QStringLiteral("AuxInput.GeneratorAU.ParameterID")).toList();
        const QVariantList values =
            parameters.value(QStringLiteral("AuxInput.GeneratorAU.ParameterValue")).toList();
        ASSERT_EQ(ids.size(), 1);
        EXPECT_EQ(ids[0].toInt(), 0) << "the status";
        ASSERT_EQ(values.size(), 1);
        EXPECT_EQ(values[0].toDouble(), 0.0);

        const auto device = makeDevice();
        device->loadSettingsFromDictionary(saved);
        auto* restored = static_cast<KOAuxNetReceiveWrapper*>(device->netReceive());
        ASSERT_NE(restored, nullptr);
        EXPECT_EQ(restored->isWindowVisible(), visible);
        EXPECT_EQ(restored->netReceive()->Volume(), 1.0f);
        EXPECT_EQ(restored->volumeSlider()->value(), restored->volumeSlider()->maximum());
        EXPECT_EQ(device->nameForChannelAtIndex(3), QStringLiteral("Net Receive 2"));
    }
    registry.removeDevice(input);
}

} // namespace
