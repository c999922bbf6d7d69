#include "engine/KOAudioDevice.h"

#include "EngineTestSupport.h"

#include "engine/KODataCollectorThread.h"
#include "platform/audio/AudioOutputUnit.h"
#include "platform/audio/DeviceRegistry.h"
#include "platform/log/Log.h"
#include "platform/notifications/NotificationCenter.h"
#include "platform/plist/PropertyList.h"
#include "support/TestSupport.h"
#include "zotools/ZOInputClient.h"

#include <QCoreApplication>
#include <QDir>
#include <QThread>

#include <gtest/gtest.h>
#include <spdlog/sinks/ringbuffer_sink.h>

#include <algorithm>
#include <atomic>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>
#include <utility>
#include <vector>

using koru::AuxInputKind;
using koru::platform::DeviceRegistry;
using koru::platform::Notification;
using koru::platform::PlistFormat;
using koru::platform::PropertyList;
using koru::platform::VirtualInputConfig;
using koru::platform::VirtualInputFaults;
using koru::platform::VirtualSignal;

namespace {

const QString kUIDKey = QStringLiteral("AudioDevice.UID");
const QString kNameKey = QStringLiteral("AudioDevice.DeviceName");
const QString kAuxKey = QStringLiteral("AudioDevice.AuxInputs");
const QString kSummingKey = QStringLiteral("AudioDevice.SummingChannels");
const QString kChannelAKey = QStringLiteral("AudioDevice.SummingChannel.ChannelA");
const QString kChannelBKey = QStringLiteral("AudioDevice.SummingChannel.ChannelB");
const QString kClipKey = QStringLiteral("AudioDevice.SendGrowlNotificationOnClip");
const QString kPatchKey = QStringLiteral("AudioDevice.InputPatchMatrixDictionary");

void flushEvents() {
    for (int i = 0; i < 3; ++i) {
        QCoreApplication::processEvents();
    }
}

class ScriptedAlerts : public koru::AlertPresenter {
public:
    Response runModal(const koru::Alert& alert) override {
        shown.push_back(alert);
        return answer;
    }
    std::vector<koru::Alert> shown;
    Response answer = Response::Alternate;
};

// A signal generator whose speakers are the given output device.
class GeneratorWrapper : public koru::AuxInputWrapper {
public:
    explicit GeneratorWrapper(std::uint32_t speakers) : mGenerator(makeGenerator(speakers)) {}
    KOAuxInput* auxInput() override { return mGenerator.get(); }
    void showWindow(const void*) override {}
    QVariantMap dictionaryRepresentation() const override {
        return {{QStringLiteral("KOType"), koru::auxInputTypeName(AuxInputKind::SignalGenerator)}};
    }

private:
    static std::unique_ptr<koru::test::TestGenerator> makeGenerator(std::uint32_t speakers) {
        auto output = std::make_unique<koru::platform::AudioOutputUnit>(DeviceRegistry::shared());
        output->setProperty(kAudioOutputUnitProperty_CurrentDevice, kAudioUnitScope_Global, 0,
                            &speakers, sizeof speakers);
        return std::make_unique<koru::test::TestGenerator>(
            std::make_unique<koru::test::SineSource>(1000.0), std::move(output));
    }
    std::unique_ptr<koru::test::TestGenerator> mGenerator;
};

class CountingClient : public ZOInputClient {
public:
    void Process(const AudioBufferList*, std::uint32_t) override { processed.fetch_add(1); }
    void SetNumberOfChannels(std::uint32_t count) override { m_numberOfChannels.store(count); }
    void ChannelsChanged(std::uint32_t position, std::uint32_t delta) override {
        changes.emplace_back(position, std::int32_t(delta));
    }
    std::atomic<int> processed{0};
    std::vector<std::pair<std::uint32_t, std::int32_t>> changes;
};

class RecordingClient : public ZOInputClient {
public:
    void Process(const AudioBufferList*, std::uint32_t) override {}
    void SetNumberOfChannels(std::uint32_t count) override { m_numberOfChannels.store(count); }
    void ChannelsChanged(std::uint32_t position, std::uint32_t delta) override {
        changes.emplace_back(position, std::int32_t(delta));
    }
    std::vector<std::pair<std::uint32_t, std::int32_t>> changes;
};

// Two channels of a constant, named after the input.
class ConstantAux : public KOAuxInput {
public:
    explicit ConstantAux(QString name) : mName(std::move(name)) {}
    std::uint32_t NumberOfChannels() const override { return 2; }
    void Start() override {}
    void Render(AudioBufferList* buffers, std::uint32_t first, std::uint32_t frames) override {
        for (std::uint32_t c = first; c < first + 2 && c < buffers->mNumberBuffers; ++c) {
            auto* samples = static_cast<float*>(buffers->mBuffers[c].mData);
            std::fill(samples, samples + frames, 0.25f);
        }
    }
    QString Name(int channel) const override {
        return QStringLiteral("%1 %2").arg(mName).arg(channel + 1);
    }

private:
    QString mName;
};

class FakeWrapper : public koru::AuxInputWrapper {
public:
    FakeWrapper(AuxInputKind kind, QVariantMap settings)
        : mInput(kind == AuxInputKind::FilePlayer ? QStringLiteral("Player")
                                                  : QStringLiteral("Generator")),
          mSettings(std::move(settings)) {
        mSettings.insert(QStringLiteral("KOType"), koru::auxInputTypeName(kind));
    }
    KOAuxInput* auxInput() override { return &mInput; }
    void showWindow(const void*) override { ++windowShown; }
    QVariantMap dictionaryRepresentation() const override { return mSettings; }
    int windowShown = 0;

private:
    ConstantAux mInput;
    QVariantMap mSettings;
};

class FakeNotifier : public koru::AudioDeviceNotifier {
public:
    void addClippingChannelToNextGrowlNotifications(unsigned channel) override {
        std::lock_guard lock(mutex);
        batch.push_back(channel);
    }
    void runGrowlNotificationsForClippingChannels() override {
        std::lock_guard lock(mutex);
        clipped = batch;
        batch.clear();
        ++runs;
    }
    void postAudioHardwareNotification(const QString& text) override { hardware.append(text); }
    void setChannelNameProvider(ChannelNameProvider provider) override {
        channelName = std::move(provider);
    }
    void setClipSwitch(ClipSwitchReader reader, ClipSwitchWriter writer) override {
        clipReader = std::move(reader);
        clipWriter = std::move(writer);
    }

    std::mutex mutex;
    std::vector<unsigned> batch;
    std::vector<unsigned> clipped;
    std::atomic<int> runs{0};
    QStringList hardware;
    ChannelNameProvider channelName;
    ClipSwitchReader clipReader;
    ClipSwitchWriter clipWriter;
};

QStringList titles(const koru::ChannelMenuCache::Entries& entries) {
    QStringList result;
    for (const koru::ChannelMenuCache::Entry& entry : entries) {
        result.append(entry.title);
    }
    return result;
}

std::vector<int> tags(const koru::ChannelMenuCache::Entries& entries) {
    std::vector<int> result;
    for (const koru::ChannelMenuCache::Entry& entry : entries) {
        result.push_back(entry.tag);
    }
    return result;
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

QVariantMap summingPair(const QVariant& a, const QVariant& b) {
    QVariantMap pair;
    if (a.isValid()) {
        pair.insert(kChannelAKey, a);
    }
    if (b.isValid()) {
        pair.insert(kChannelBKey, b);
    }
    return pair;
}

class AudioDeviceTest : public ::testing::Test {
protected:
    void SetUp() override {
        two = addDevice(QStringLiteral("Device Two"), 2, 48000.0,
                        {VirtualSignal::constant(1.0f), VirtualSignal::constant(0.5f)});
        eight = addDevice(QStringLiteral("Device Eight"), 8, 96000.0, {});
        collector = KODataCollectorThread::createPrivate();
        device = makeDevice();
        device->createAudioDevice(two);
        reloadToken = koru::platform::observeNotification(
            QString::fromLatin1(KOAudioDevice::kReloadAudioPropNotification), nullptr,
            [this](const Notification& n) { reloads.push_back(n.object); });
        flushEvents();
        reloads.clear();
    }

    void TearDown() override {
        device.reset();
        for (const std::uint32_t id : devices) {
            registry.removeDevice(id);
        }
    }

    std::uint32_t addDevice(const QString& name, std::uint32_t channels, double rate,
                            std::vector<VirtualSignal> channelSignals) {
        VirtualInputConfig config;
        config.name = name;
        config.channels = channels;
        config.sampleRate = rate;
        config.channelSignals = std::move(channelSignals);
        config.manual = true;
        devices.push_back(registry.addVirtualInput(config));
        return devices.back();
    }

    std::unique_ptr<KOAudioDevice> makeDevice() {
        KOAudioDevice::Services services;
        services.collector = collector.get();
        services.alerts = alerts;
        services.info = [this](const QString& text, const QString& additional) {
            infoLines = {text, additional};
        };
        services.quit = [this] { ++quits; };
        services.errorHoldOff = holdOff;
        auto made = std::make_unique<KOAudioDevice>(services);
        for (const AuxInputKind kind : koru::kAuxInputKinds) {
            koru::AuxInputWrapperFactory factory;
            factory.create = [this, kind] {
                ++created;
                return std::make_unique<FakeWrapper>(kind, QVariantMap{});
            };
            factory.createWithDictionary = [this, kind](const QVariantMap& settings) {
                ++created;
                restoredFrom.append(settings);
                return std::make_unique<FakeWrapper>(kind, settings);
            };
            made->setAuxInputWrapperFactory(kind, factory);
        }
        return made;
    }

    FakeWrapper* wrapperOf(AuxInputKind kind) {
        return static_cast<FakeWrapper*>(device->wrapper(kind));
    }

    DeviceRegistry& registry = DeviceRegistry::shared();
    std::vector<std::uint32_t> devices;
    std::uint32_t two = 0;
    std::uint32_t eight = 0;
    std::shared_ptr<ScriptedAlerts> alerts = std::make_shared<ScriptedAlerts>();
    std::unique_ptr<KODataCollectorThread> collector;
    std::unique_ptr<KOAudioDevice> device;
    koru::platform::ObserverToken reloadToken;
    std::vector<QVariant> reloads;
    QStringList infoLines;
    int quits = 0;
    int created = 0;
    std::function<void(std::function<void()>)> holdOff; // empty: the device's own timer
    QList<QVariantMap> restoredFrom;
};

} // namespace

TEST_F(AudioDeviceTest, SwitchingFromTwoToEightChannelsRemapsClientsAndReloadsOnce) {
    RecordingClient client;
    device->addInputClient(&client);
    device->addFilePlayer();
    flushEvents();
    reloads.clear();
    client.changes.clear();

    device->setAudioObjectID(eight);
    flushEvents();

    ASSERT_EQ(reloads.size(), 1u);
    EXPECT_EQ(reloads[0].toDouble(), 96000.0);
    EXPECT_EQ(device->audioObjectID(), eight);
    EXPECT_EQ(device->nominalSampleRate(), 96000.0);
    EXPECT_EQ(device->numNativeChannels(), 8u);
    // The file player's channels move from 2 to 8; the client hears of six new ones at 2.
    EXPECT_EQ(client.changes, (std::vector<std::pair<std::uint32_t, std::int32_t>>{{2, 6}}));
    EXPECT_EQ(client.NumberOfChannels(), 10u);
    EXPECT_EQ(device->nameForChannelAtIndex(7), QStringLiteral("(8) Device Eight 8"));
    EXPECT_EQ(device->nameForChannelAtIndex(8), QStringLiteral("Player 1"));
    const auto patch = device->inputPatchMatrix();
    ASSERT_EQ(patch->numChannels(), 8u);
    for (std::uint32_t d = 0; d < 8; ++d) {
        EXPECT_EQ(patch->sourceChannelForDestination(d), std::int32_t(d));
    }
    EXPECT_EQ(infoLines, (QStringList{"Device Eight", "Sample Rate: 96000Hz"}));
    EXPECT_TRUE(alerts->shown.empty());
    device->getKOAD()->RemoveClient(&client);
}

TEST_F(AudioDeviceTest, ARememberedDeviceThatIsGoneFallsBackToTheVirtualInput) {
    const std::uint32_t gone = addDevice(QStringLiteral("Device Gone"), 4, 48000.0, {});
    registry.removeDevice(gone);

    device->setAudioObjectID(gone);
    flushEvents();

    EXPECT_EQ(device->audioObjectID(), registry.virtualInputDevice());
    EXPECT_EQ(reloads.size(), 1u);
    EXPECT_TRUE(alerts->shown.empty()); // no "inconsistent state" alert for a known cause
}

TEST_F(AudioDeviceTest, AnEngineForADeviceThatIsGoneRunsOnTheVirtualInput) {
    const std::uint32_t gone = addDevice(QStringLiteral("Device Gone"), 4, 48000.0, {});
    registry.removeDevice(gone);
    device.reset();
    device = makeDevice();
    device->createAudioDevice(gone);
    ASSERT_NE(device->getKOAD(), nullptr);
    EXPECT_EQ(device->audioObjectID(), registry.virtualInputDevice());
}

TEST_F(AudioDeviceTest, SafeModeRefusesDeviceAndListEdits) {
    device->addFilePlayer();
    device->addSummingChannel();
    KOAD* engine = device->getKOAD();
    const std::uint32_t channels = device->totalNumberChannels();
    engine->EnterSafeMode();
    alerts->shown.clear();

    device->setAudioObjectID(eight);
    device->addSummingChannel();
    device->removeSummingChannelAtIndex(0);
    device->removeFilePlayer();
    device->addSignalGenerator();

    ASSERT_EQ(alerts->shown.size(), 5u);
    for (const koru::Alert& alert : alerts->shown) {
        EXPECT_EQ(alert.messageText, QStringLiteral("Can't change Audio Settings"));
        EXPECT_EQ(alert.informativeText,
                  QStringLiteral("KORU is currently recording and can't change audio "
                                 "settings.\nStop recording and try again."));
        EXPECT_EQ(alert.defaultButton, QStringLiteral("OK"));
    }
    EXPECT_EQ(device->audioObjectID(), two);
    EXPECT_EQ(device->totalNumberChannels(), channels);
    EXPECT_NE(device->filePlayer(), nullptr);
    EXPECT_EQ(device->signalGenerator(), nullptr);
    EXPECT_FALSE(device->canAddSummingChannel());
    engine->LeaveSafeMode();
    EXPECT_TRUE(device->canAddSummingChannel());
}

TEST_F(AudioDeviceTest, AddingAnAuxiliaryInputTwiceKeepsOneAndShowsItsWindowTwice) {
    device->addSignalGenerator();
    device->addSignalGenerator();
    EXPECT_EQ(created, 1);
    ASSERT_NE(wrapperOf(AuxInputKind::SignalGenerator), nullptr);
    EXPECT_EQ(wrapperOf(AuxInputKind::SignalGenerator)->windowShown, 2);
    EXPECT_EQ(device->totalNumberChannels(), 4u);
    device->removeSignalGenerator();
    EXPECT_EQ(device->signalGenerator(), nullptr);
    EXPECT_EQ(device->totalNumberChannels(), 2u);
}

TEST_F(AudioDeviceTest, SummingChannelsStopAtSixteenAndTheTableEditsThem) {
    for (int i = 0; i < 15; ++i) {
        device->addSummingChannel();
    }
    EXPECT_TRUE(device->canAddSummingChannel());
    device->addSummingChannel();
    EXPECT_FALSE(device->canAddSummingChannel());
    device->addSummingChannel();
    EXPECT_EQ(device->numberOfSummingTableRows(), 16);
    flushEvents();
    reloads.clear();

    device->setSummingTableValue(1, QStringLiteral("cha"), 3);
    flushEvents();
    ASSERT_EQ(reloads.size(), 1u);
    EXPECT_FALSE(reloads[0].isValid()); // a table edit carries no rate

    const struct {
        const char* column;
        int row;
        unsigned value;
    } cases[] = {{"cha", 3, 1}, {"chb", 3, 0}, {"xyz", 3, 0}, {"cha", 99, 0}, {"cha", -1, 0}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.column);
        EXPECT_EQ(device->summingTableValue(QString::fromLatin1(c.column), c.row).toUInt(),
                  c.value);
    }
    // A summing channel's source is a hardware or auxiliary channel, never another summing one.
    EXPECT_EQ(tags(device->nativeAndAuxChannelMenuEntries()), (std::vector<int>{0, 1}));
}

TEST_F(AudioDeviceTest, PatchEditsAreAnnouncedAppliedAndRenameTheMenus) {
    int patchPosts = 0;
    const auto token = koru::platform::observeNotification(
        QString::fromLatin1(KOPatchMatrix::kDidChangePatchNotification), nullptr,
        [&](const Notification&) { ++patchPosts; });
    EXPECT_EQ(titles(device->nativeAndAuxChannelMenuEntries()),
              (QStringList{"(1) Device Two 1", "(2) Device Two 2"}));

    const auto patch = device->inputPatchMatrix();
    patchPosts = 0;
    patch->setSourceChannel(0, 1);
    EXPECT_EQ(patchPosts, 1);
    EXPECT_EQ(engineChannelMap(*device->getKOAD()), (std::vector<std::int32_t>{0, 0}));
    patch->setDestinationChannelAlias(QStringLiteral("Left"), 1);
    EXPECT_EQ(patchPosts, 2);

    // Auxiliary channels name themselves; the alias survives the reconfiguration.
    device->addFilePlayer();
    device->addSummingChannel();
    const auto entries = device->inputChannelMenuEntries();
    EXPECT_EQ(titles(entries),
              (QStringList{"(1) Device Two 1", "(2) Left", "Player 1", "Player 2",
                           "Device Two 1 + Device Two 1", "Device Two 1 - Device Two 1"}));
    EXPECT_EQ(tags(entries), (std::vector<int>{0, 1, 2, 3, 4, 5}));
    EXPECT_EQ(titles(device->nativeAndAuxChannelMenuEntries()).size(), 4);

    // A summing source change renames the summing channels in a rebuilt menu.
    device->setSummingTableValue(2, QStringLiteral("chb"), 0);
    EXPECT_EQ(titles(device->inputChannelMenuEntries()).at(4),
              QStringLiteral("Device Two 1 + Player 1"));
}

TEST_F(AudioDeviceTest, ChannelQueriesCoverEveryChannel) {
    device->addFilePlayer();
    EXPECT_EQ(device->channelNamesArray(),
              (QStringList{"(1) Device Two 1", "(2) Device Two 2", "Player 1", "Player 2"}));
    const struct {
        std::int32_t index;
        bool valid;
    } cases[] = {{-1, false}, {0, true}, {3, true}, {4, false}};
    for (const auto& c : cases) {
        EXPECT_EQ(device->isValidChannelIndex(c.index), c.valid) << c.index;
    }
    EXPECT_EQ(device->channelAfterIndex(3), 0u);
    EXPECT_EQ(device->channelAfterIndex(0xFFFFFFFFu), 0u);
    EXPECT_EQ(device->channelAfterIndex(1), 2u);
}

TEST_F(AudioDeviceTest, IOErrorsReachTheMainThreadOncePerBurst) {
    std::function<void()> rearm;
    device.reset();
    holdOff = [&](std::function<void()> again) { rearm = std::move(again); };
    device = makeDevice();
    device->createAudioDevice(two);
    std::vector<QThread*> threads;
    const auto token = koru::platform::observeNotification(
        QString::fromLatin1(KOAudioDevice::kErrorOnIONotification), nullptr,
        [&](const Notification& n) {
            EXPECT_FALSE(n.object.isValid());
            threads.push_back(QThread::currentThread());
        });
    KOAD* engine = device->getKOAD();
    const auto burst = [engine] {
        std::thread audio([engine] {
            for (int i = 0; i < 200; ++i) {
                engine->ErrorHandler(1);
            }
        });
        audio.join();
    };

    burst();
    ASSERT_TRUE(koru::test::spinUntil([&] { return !threads.empty(); }));
    ASSERT_TRUE(rearm) << "the burst's hold-off began";
    burst(); // still inside the hold-off: part of the same burst
    flushEvents();
    ASSERT_EQ(threads.size(), 1u);
    EXPECT_EQ(threads[0], QCoreApplication::instance()->thread());

    // Once the hold-off has passed, the next failure is news again.
    std::exchange(rearm, {})();
    burst();
    EXPECT_TRUE(koru::test::spinUntil([&] { return threads.size() == 2; }));
}

// A device that is listed but cannot be used, however it shows: reported in the log, with
// "KoruNot.ErrorOnIO" and an alert that names it and the cause, and replaced by the virtual
// input; the device object knows it runs again, on the virtual input.
TEST_F(AudioDeviceTest, DevicesThatFailAreReportedAndReplacedByTheVirtualInput) {
    struct Case {
        const char* label;
        VirtualInputFaults faults;
        std::function<void(std::uint32_t id)> act;
        const char* cause;
    };
    VirtualInputFaults busy;
    busy.refuseOpen = kAudioHardwareIllegalOperationError;
    VirtualInputFaults wontStart;
    wontStart.refuseStart = kAudioHardwareNotRunningError;
    VirtualInputFaults no44k;
    no44k.refusedRates = {44100.0};
    VirtualInputFaults dies;
    dies.failAfterFrames = 4096;
    const Case cases[] = {
        {"busy when chosen", busy,
         [&](std::uint32_t id) {
             device->start();
             device->setAudioObjectID(id);
         },
         "is busy"},
        {"refusing to start at launch", wontStart,
         [&](std::uint32_t id) {
             device.reset();
             device = makeDevice();
             device->createAudioDevice(id);
             device->start();
         },
         "refused to start"},
        {"refusing a rate", no44k,
         [&](std::uint32_t id) {
             device->start();
             device->setAudioObjectID(id);
             device->setNominalSampleRate(44100.0);
         },
         "refused 44100 Hz"},
        {"failing after 4096 frames", dies,
         [&](std::uint32_t id) {
             device->start();
             device->setAudioObjectID(id);
             ASSERT_TRUE(registry.virtualInput(id)->pump(8192));
         },
         "reported an error"},
    };
    auto sink = std::make_shared<spdlog::sinks::ringbuffer_sink_mt>(64);
    koru::log::logger().sinks().push_back(sink);
    int ioErrors = 0;
    const auto token = koru::platform::observeNotification(
        QString::fromLatin1(KOAudioDevice::kErrorOnIONotification), nullptr,
        [&](const Notification&) { ++ioErrors; });
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        const std::uint32_t id =
            addDevice(QStringLiteral("Faulty %1").arg(c.label), 2, 48000.0, {});
        registry.virtualInput(id)->setFaults(c.faults);
        alerts->shown.clear();
        ioErrors = 0;
        c.act(id);

        ASSERT_TRUE(koru::test::spinUntil([&] { return !alerts->shown.empty(); }));
        const koru::Alert& alert = alerts->shown.front();
        EXPECT_EQ(alert.messageText, QStringLiteral("Audio Device Failed"));
        EXPECT_TRUE(alert.informativeText.contains(QStringLiteral("Faulty %1").arg(c.label)));
        EXPECT_TRUE(alert.informativeText.contains(QString::fromLatin1(c.cause)))
            << alert.informativeText.toStdString();
        EXPECT_TRUE(device->lastDeviceFailure().contains(QString::fromLatin1(c.cause)));
        EXPECT_TRUE(koru::test::spinUntil([&] { return ioErrors == 1; }));
        EXPECT_EQ(device->audioObjectID(), registry.virtualInputDevice());
        EXPECT_TRUE(device->isRunning());
        bool logged = false;
        for (const std::string& line : sink->last_formatted()) {
            logged |= line.find("Faulty " + std::string(c.label)) != std::string::npos &&
                      line.find(c.cause) != std::string::npos;
        }
        EXPECT_TRUE(logged) << "no log line names the device and the cause";
        flushEvents();
        EXPECT_EQ(alerts->shown.size(), 1u);
        device->stop();
    }
    auto& sinks = koru::log::logger().sinks();
    sinks.erase(std::find(sinks.begin(), sinks.end(), sink));
}

// An auxiliary input that cannot start leaves nothing behind: no wrapper, no channels, no change
// for the clients, no reload; the alert names the cause, and the input beside it runs on.
TEST_F(AudioDeviceTest, AFailedAuxiliaryStartLeavesNothingAttachedAndNamesTheCause) {
    const std::uint32_t speakers = registry.addNullOutput(QStringLiteral("Busy Speakers"));
    registry.nullOutput(speakers)->setRefuseStart(kAudioHardwareIllegalOperationError);
    koru::AuxInputWrapperFactory generators;
    generators.create = [&] { return std::make_unique<GeneratorWrapper>(speakers); };
    device->setAuxInputWrapperFactory(AuxInputKind::SignalGenerator, generators);
    CountingClient client;
    device->addInputClient(&client);
    device->start();
    flushEvents();
    reloads.clear();

    device->addSignalGenerator();
    EXPECT_EQ(device->signalGenerator(), nullptr);
    EXPECT_EQ(device->totalNumberChannels(), 2u);
    EXPECT_EQ(client.NumberOfChannels(), 2u);
    EXPECT_TRUE(client.changes.empty());
    ASSERT_TRUE(koru::test::spinUntil([&] { return !alerts->shown.empty(); }));
    EXPECT_EQ(alerts->shown[0].messageText, QStringLiteral("Could not start the Signal Generator"));
    EXPECT_TRUE(alerts->shown[0].informativeText.contains(
        QStringLiteral("\"Busy Speakers\" refused to start")))
        << alerts->shown[0].informativeText.toStdString();
    EXPECT_TRUE(reloads.empty());

    EXPECT_TRUE(device->isRunning());
    EXPECT_EQ(device->audioObjectID(), two);
    ASSERT_TRUE(registry.virtualInput(two)->pump(1024));
    EXPECT_EQ(client.processed.load(), 1);
    device->getKOAD()->RemoveClient(&client);
    device->stop();
    registry.removeDevice(speakers);
}

TEST_F(AudioDeviceTest, ClipsAreReportedThroughTheNotifierAfterACollectorPass) {
    FakeNotifier notifier;
    device->setNotifier(&notifier);
    ASSERT_TRUE(notifier.channelName);
    EXPECT_EQ(notifier.channelName(1), QStringLiteral("(2) Device Two 2"));
    EXPECT_EQ(notifier.channelName(7), QStringLiteral("(8)"));
    notifier.clipWriter(true);
    EXPECT_TRUE(device->postGrowlNotificationOnClip());

    device->start();
    // Channel 0 is at full scale, channel 1 at -6 dB.
    ASSERT_TRUE(registry.virtualInput(two)->pump(2048));
    ASSERT_TRUE(koru::test::spinUntil([&] { return notifier.runs.load() > 0; }));
    {
        std::lock_guard lock(notifier.mutex);
        EXPECT_EQ(notifier.clipped, (std::vector<unsigned>{0}));
    }
    device->stop();
    device->setNotifier(nullptr);
    EXPECT_FALSE(notifier.channelName);
}

TEST_F(AudioDeviceTest, RestoringLooksUpTheUIDWithoutFallingBackToTheName) {
    const struct {
        const char* label;
        QVariantMap settings;
        std::uint32_t* expected;
    } cases[] = {
        {"unknown UID",
         {{kUIDKey, QStringLiteral("virtual:No Such Device")},
          {kNameKey, QStringLiteral("Device Eight")},
          {kClipKey, true}},
         &two},
        {"UID of the wrong type", {{kUIDKey, 42}, {kClipKey, true}}, &two},
        {"name only", {{kNameKey, QStringLiteral("Device Eight")}, {kClipKey, true}}, &eight},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        device->setAudioObjectID(two);
        device->setPostGrowlNotificationOnClip(false);
        device->loadSettingsFromDictionary(c.settings);
        EXPECT_EQ(device->audioObjectID(), *c.expected);
        // Nothing at all is restored when the device is not found.
        EXPECT_EQ(device->postGrowlNotificationOnClip(), *c.expected == eight);
    }
    device->loadSettingsFromDictionary(QVariant());
    device->loadSettingsFromDictionary(QStringLiteral("not a dictionary"));
    EXPECT_EQ(device->audioObjectID(), eight);
}

TEST_F(AudioDeviceTest, DamagedSettingsRestoreWhatTheyCan) {
    device->addSummingChannel();
    device->addSummingChannel();
    device->addSummingChannel();
    device->addFilePlayer();
    FakeWrapper* player = wrapperOf(AuxInputKind::FilePlayer);
    QVariantList summing{QStringLiteral("not a pair"),
                         summingPair(QStringLiteral("seven"), 999), // text reads 0; 999 clamps
                         summingPair(-1, QVariant())};              // -1 wraps, then clamps
    const QVariantMap settings{
        {kUIDKey, QStringLiteral("virtual:Device Two")},
        {kAuxKey,
         QVariantList{QStringLiteral("junk"), QVariantMap{{"KOType", "KOAuxFilePlayerWrapper"}},
                      QVariantMap{{"KOType", "KOSomethingElse"}},
                      QVariantMap{{"KOType", "KOSignalGeneratorWrapper"}}}},
        {kSummingKey, summing},
        {kClipKey, QStringLiteral("YES")},
        {kPatchKey, QStringLiteral("broken")},
    };
    device->loadSettingsFromDictionary(settings);

    EXPECT_EQ(wrapperOf(AuxInputKind::FilePlayer), player); // the running one stays
    ASSERT_NE(device->signalGenerator(), nullptr);
    ASSERT_EQ(device->numberOfSummingTableRows(), 2);
    // Sources: 2 hardware + 4 auxiliary channels, so the largest is 5.
    const unsigned expected[][2] = {{0, 5}, {5, 0}};
    for (int row = 0; row < 2; ++row) {
        EXPECT_EQ(device->summingTableValue("cha", row).toUInt(), expected[row][0]) << row;
        EXPECT_EQ(device->summingTableValue("chb", row).toUInt(), expected[row][1]) << row;
    }
    EXPECT_TRUE(device->postGrowlNotificationOnClip());
    EXPECT_EQ(device->inputPatchMatrix()->sourceChannelForDestination(1), 1);
}

TEST_F(AudioDeviceTest, MoreThanSixteenSavedSummingChannelsAreCut) {
    QVariantList summing;
    for (int i = 0; i < 20; ++i) {
        summing.append(summingPair(1, 0));
    }
    device->loadSettingsFromDictionary(
        QVariantMap{{kUIDKey, QStringLiteral("virtual:Device Two")}, {kSummingKey, summing}});
    EXPECT_EQ(device->numberOfSummingTableRows(), 16);
}

TEST_F(AudioDeviceTest, APatchOfAnotherLayoutIsFittedToTheDevice) {
    const QVariantMap patch{
        {"KOPatchMatrix.matrixSize", 300},
        {"KOPatchMatrix.sourceChannelArray", QVariantList{5, -7, 1}},
        {"KOPatchMatrix.destinationAliasDictionary",
         QVariantMap{{"Device Two-0", "Mic"}, {"Device Two-1", 12}}},
    };
    device->loadSettingsFromDictionary(
        QVariantMap{{kUIDKey, QStringLiteral("virtual:Device Two")}, {kPatchKey, patch}});

    const auto matrix = device->inputPatchMatrix();
    ASSERT_EQ(matrix->numChannels(), 2u);
    EXPECT_EQ(matrix->sourceChannelForDestination(0), -1);
    EXPECT_EQ(matrix->sourceChannelForDestination(1), -1);
    EXPECT_EQ(engineChannelMap(*device->getKOAD()), (std::vector<std::int32_t>{-1, -1}));
    EXPECT_EQ(device->nameForChannelAtIndex(0), QStringLiteral("(1) Mic"));
    EXPECT_EQ(device->nameForChannelAtIndex(1), QStringLiteral("(2) -"));
    EXPECT_EQ(matrix->sourceChannelNameAtIndex(1), QStringLiteral("Device Two 2"));
}

TEST_F(AudioDeviceTest, WithoutAuxiliaryInputsTheSettingsHoldAnEmptyArray) {
    const QVariantMap settings = device->dictionaryRepresentation();
    EXPECT_EQ(settings.value(kAuxKey).toList().size(), 0);
    EXPECT_TRUE(settings.contains(kAuxKey));
    EXPECT_FALSE(settings.contains(kPatchKey)); // no patch made yet
    EXPECT_EQ(settings.value(kUIDKey).toString(), QStringLiteral("virtual:Device Two"));
    EXPECT_EQ(settings.value(kNameKey).toString(), QStringLiteral("Device Two"));
}

class AudioSettingsRoundTrip : public AudioDeviceTest,
                               public ::testing::WithParamInterface<const char*> {};

TEST_P(AudioSettingsRoundTrip, ThroughAPropertyListFileIdentically) {
    std::optional<koru::test::ScopedLocale> locale;
    if (GetParam() != nullptr) {
        locale.emplace(GetParam());
        if (!locale->active()) {
            GTEST_SKIP() << GetParam() << " is not installed";
        }
    }
    koru::AuxInputWrapperFactory player;
    player.create = [] {
        return std::make_unique<FakeWrapper>(
            AuxInputKind::FilePlayer,
            QVariantMap{{"Volume", 0.25}, {"Window.IsVisible", 1}, {"Path", "/tmp/ä.wav"}});
    };
    device->setAuxInputWrapperFactory(AuxInputKind::FilePlayer, player);
    device->addSignalGenerator();
    device->addFilePlayer();
    device->addSummingChannel();
    device->addSummingChannel();
    device->setSummingTableValue(1, "cha", 0);
    device->setSummingTableValue(5, "chb", 0);
    device->setSummingTableValue(3, "cha", 1);
    const auto patch = device->inputPatchMatrix();
    patch->setSourceChannel(1, 0);
    patch->setDestinationChannelAlias(QStringLiteral("Links"), 1);
    device->setPostGrowlNotificationOnClip(true);

    const QVariantMap saved = device->dictionaryRepresentation();
    const QVariantList aux = saved.value(kAuxKey).toList();
    ASSERT_EQ(aux.size(), 2);
    EXPECT_EQ(aux[0].toMap().value("KOType").toString(), QStringLiteral("KOAuxFilePlayerWrapper"));
    EXPECT_EQ(aux[1].toMap().value("KOType").toString(),
              QStringLiteral("KOSignalGeneratorWrapper"));
    const QString path = QDir(koru::test::testRoot()).filePath("audio-settings.plist");
    ASSERT_TRUE(PropertyList::write(path, saved, PlistFormat::Xml));

    const auto read = PropertyList::read(path);
    ASSERT_TRUE(read.ok()) << read.error.toStdString();
    device.reset();
    device = makeDevice();
    device->createAudioDevice(eight);
    device->loadSettingsFromDictionary(read.value);

    EXPECT_EQ(device->audioObjectID(), two);
    EXPECT_EQ(device->nameForChannelAtIndex(1), QStringLiteral("(2) Links"));
    EXPECT_EQ(engineChannelMap(*device->getKOAD()), (std::vector<std::int32_t>{1, 1}));
    ASSERT_EQ(restoredFrom.size(), 2);
    EXPECT_EQ(restoredFrom[0].value("Volume").toDouble(), 0.25);
    const QVariantMap again = device->dictionaryRepresentation();
    EXPECT_EQ(PropertyList::serialize(again, PlistFormat::Xml),
              PropertyList::serialize(saved, PlistFormat::Xml));
}

INSTANTIATE_TEST_SUITE_P(Locales, AudioSettingsRoundTrip,
                         ::testing::Values(nullptr, "de_DE.UTF-8"));
