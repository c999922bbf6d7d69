#include "FakeNotificationServer.h"
#include "LogCapture.h"
#include "NotificationServerTest.h"
#include "PrivateSessionBus.h"
#include "support/TestSupport.h"

#include "app/KOGrowlNotificationCenter.h"
#include "platform/defaults/UserDefaults.h"
#include "platform/desktop/DesktopNotifications.h"
#include "platform/dispatch/KOBackgroundQueue.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <optional>
#include <stdexcept>

using koru::platform::DesktopNotifications;
using koru::platform::UserDefaults;
using koru::test::FakeNotificationServer;
using koru::test::LogCapture;
using koru::test::NotificationServerTest;
using koru::test::PrivateSessionBus;
using koru::test::spinUntil;
using std::chrono::seconds;

namespace {

using Shown = FakeNotificationServer::Shown;

QString freshDefaultsPath() {
    static std::atomic<int> serial{0};
    return koru::test::testRoot() + QStringLiteral("/growl-defaults-%1.plist").arg(++serial);
}

class GrowlCenterTest : public NotificationServerTest {
protected:
    void SetUp() override {
        NotificationServerTest::SetUp();
        if (!busReady())
            return;
        defaults = std::make_unique<UserDefaults>(freshDefaultsPath());
        center = makeCenter();
    }

    void TearDown() override {
        center.reset();
        NotificationServerTest::TearDown();
    }

    std::unique_ptr<KOGrowlNotificationCenter> makeCenter() {
        auto notifications = std::make_unique<DesktopNotifications>(client);
        sink = notifications.get();
        return std::make_unique<KOGrowlNotificationCenter>(std::move(notifications), *defaults,
                                                           [this] { return now; });
    }

    // Everything posted so far, as the desktop received it.
    std::vector<Shown> shown() {
        QCoreApplication::processEvents();
        server->sync(client);
        return server->shown();
    }

    std::vector<QString> summaries() {
        std::vector<QString> result;
        for (const Shown& s : shown())
            result.push_back(s.summary);
        return result;
    }

    // Clicks the notification the desktop showed as number `index`.
    void click(std::size_t index) {
        const auto all = shown();
        ASSERT_LT(index, all.size());
        ASSERT_TRUE(spinUntil([&] { return sink->liveCount() > 0; }));
        server->click(all[index].id);
    }

    // The service sends in order: once it has answered a later call, every click it sent
    // before has reached the program.
    void allClicksArrived() {
        server->sync(client);
        QCoreApplication::processEvents();
    }

    void clipBatch(std::initializer_list<unsigned> channels) {
        for (const unsigned channel : channels)
            center->addClippingChannelToNextGrowlNotifications(channel);
        center->runGrowlNotificationsForClippingChannels();
    }

    LogCapture log;
    std::unique_ptr<UserDefaults> defaults;
    std::chrono::steady_clock::time_point now{seconds(1000)};
    DesktopNotifications* sink = nullptr;
    std::unique_ptr<KOGrowlNotificationCenter> center;
};

TEST_F(GrowlCenterTest, EachKindIsPostedWithItsTexts) {
    center->setChannelNameProvider(
        [](unsigned channel) { return QStringLiteral("(%1) Kick In").arg(channel + 1); });
    center->postSPLExceededGrowlNotification(nullptr, QStringLiteral("SPL exceeded 100dB"));
    clipBatch({3});
    center->postAudioHardwareNotification(QStringLiteral("Virtual Input 48000Hz"));
    center->postDelayFinderFinishedNotification(QStringLiteral("Transfer: 2.35 ms"));

    const auto all = shown();
    ASSERT_EQ(all.size(), 4u);
    struct Expected {
        const char* summary;
        const char* body;
        int expireTimeout;
    };
    const Expected expected[] = {
        {"Sound Pressure Level above Limit", "SPL exceeded 100dB", 0},
        {"Input Clip", "(4) Kick In", -1},
        {"Audio Hardware changed", "Virtual Input 48000Hz", -1},
        {"Delay Finder has calculated", "Transfer: 2.35 ms", -1},
    };
    for (std::size_t i = 0; i < all.size(); ++i) {
        SCOPED_TRACE(expected[i].summary);
        EXPECT_EQ(all[i].summary, QString::fromUtf8(expected[i].summary));
        EXPECT_EQ(all[i].body, QString::fromUtf8(expected[i].body));
        EXPECT_EQ(all[i].expireTimeout, expected[i].expireTimeout);
    }
    EXPECT_EQ(log.count("posting notification: Input Clip, (4) Kick In"), 1);
    EXPECT_EQ(log.count("posting notification: Sound Pressure Level above Limit, SPL exceeded "
                        "100dB"),
              1);
}

TEST_F(GrowlCenterTest, SPLAlarmPostsAtMostOnceAMinute) {
    const auto start = now;
    struct Step {
        int atSeconds;
        std::size_t postedSoFar;
    };
    // The first posts at once; only a real post restarts the minute.
    const Step steps[] = {{0, 1}, {30, 1}, {60, 1}, {61, 2}, {100, 2}, {121, 2}, {122, 3}};
    for (const Step& step : steps) {
        SCOPED_TRACE(step.atSeconds);
        now = start + seconds(step.atSeconds);
        center->postSPLExceededGrowlNotification(nullptr, QStringLiteral("SPL exceeded 94dB"));
        EXPECT_EQ(shown().size(), step.postedSoFar);
    }
}

TEST_F(GrowlCenterTest, ClipPostsAtMostOncePerFifteenSecondsForEachChannel) {
    const auto start = now;
    struct Step {
        int atSeconds;
        std::initializer_list<unsigned> batch;
        std::vector<QString> newBodies;
    };
    const Step steps[] = {
        {0, {3}, {"(4)"}},     {5, {3, 4}, {"(5)"}}, // channel 4 gets its own
        {15, {3, 4}, {}},                            // 15 s or less after the last post: held back
        {16, {3, 4}, {"(4)"}},                       // channel 3 clipping all along shows again
        {21, {4, 3}, {"(5)"}}, {31, {3}, {}},
        {32, {3, 3}, {"(4)"}}, // queued twice in one batch, posted once
    };
    std::size_t seen = 0;
    for (const Step& step : steps) {
        SCOPED_TRACE(step.atSeconds);
        now = start + seconds(step.atSeconds);
        clipBatch(step.batch);
        const auto all = shown();
        std::vector<QString> bodies;
        for (std::size_t i = seen; i < all.size(); ++i) {
            EXPECT_EQ(all[i].summary, QStringLiteral("Input Clip"));
            bodies.push_back(all[i].body);
        }
        EXPECT_EQ(bodies, step.newBodies);
        seen = all.size();
    }
}

TEST_F(GrowlCenterTest, ClipBatchFromTheBackgroundQueueReachesTheDesktop) {
    KODispatchBackground([this] {
        center->addClippingChannelToNextGrowlNotifications(0);
        center->addClippingChannelToNextGrowlNotifications(1);
        center->addClippingChannelToNextGrowlNotifications(0);
        center->runGrowlNotificationsForClippingChannels();
        center->postSPLExceededGrowlNotification(nullptr, QStringLiteral("SPL exceeded 85dB"));
    });
    KOBackgroundQueue()->waitUntilIdle();
    EXPECT_EQ(summaries(), (std::vector<QString>{"Input Clip", "Input Clip",
                                                 "Sound Pressure Level above Limit"}));
}

TEST_F(GrowlCenterTest, HardwareTextPostsOnlyWhenItChangesOrAfterAClick) {
    const QString device = QStringLiteral("Virtual Input 44100Hz");
    center->postAudioHardwareNotification(device);
    center->postAudioHardwareNotification(device);
    ASSERT_EQ(shown().size(), 1u);

    center->postAudioHardwareNotification(QStringLiteral("Virtual Input 48000Hz"));
    center->postAudioHardwareNotification(device);
    ASSERT_EQ(shown().size(), 3u);

    click(2);
    ASSERT_TRUE(spinUntil([&] {
        center->postAudioHardwareNotification(device);
        return shown().size() == 4u;
    }));
    center->postAudioHardwareNotification(device);
    EXPECT_EQ(shown().size(), 4u);
}

TEST_F(GrowlCenterTest, ClickOnAClipNotificationResetsTheClipIndicators) {
    int resets = 0;
    center->setClipIndicatorReset([&] { ++resets; });
    center->postSPLExceededGrowlNotification(nullptr, QStringLiteral("SPL exceeded 90dB"));
    center->postDelayFinderFinishedNotification(QStringLiteral("Transfer: 1 ms"));
    center->postAudioHardwareNotification(QStringLiteral("Virtual Input 48000Hz"));
    clipBatch({2});
    ASSERT_EQ(shown().size(), 4u);

    click(0);
    click(1);
    click(2);
    click(3);
    allClicksArrived();
    EXPECT_EQ(resets, 1);
}

TEST_F(GrowlCenterTest, AFailingResetIsSwallowed) {
    center->setClipIndicatorReset([] { throw std::runtime_error("no meters"); });
    clipBatch({0});
    click(0);
    ASSERT_TRUE(spinUntil([&] { return log.count("resetting the clip indicators failed") == 1; }));
}

TEST_F(GrowlCenterTest, UnsetHooksFallBackQuietly) {
    EXPECT_FALSE(center->postGrowlNotificationOnClip());
    center->setPostGrowlNotificationOnClip(true);
    EXPECT_FALSE(center->postGrowlNotificationOnClip());

    clipBatch({11});
    ASSERT_EQ(shown().size(), 1u);
    EXPECT_EQ(shown()[0].body, QStringLiteral("(12)"));
    click(0);
    allClicksArrived();

    bool deviceSwitch = false;
    center->setClipSwitch([&] { return deviceSwitch; }, [&](bool on) { deviceSwitch = on; });
    center->setPostGrowlNotificationOnClip(true);
    EXPECT_TRUE(deviceSwitch);
    EXPECT_TRUE(center->postGrowlNotificationOnClip());
}

TEST_F(GrowlCenterTest, PreferencesAreStoredAndReadAtCreation) {
    EXPECT_EQ(log.count("notification system: Desktop notifications"), 1);
    center->setUseNativeNotificationSystem(false);
    EXPECT_TRUE(center->useNativeNotificationSystem());
    EXPECT_EQ(log.count("notification system: Desktop notifications"), 2);

    EXPECT_FALSE(center->growlClipNotificationStaysOnScreen());
    center->setGrowlClipNotificationStaysOnScreen(true);

    UserDefaults reread(defaults->path());
    EXPECT_TRUE(
        reread.objectForKey(QStringLiteral("KOGrowl.UseSystemNotificationSystem")).isValid());
    EXPECT_FALSE(reread.boolForKey(QStringLiteral("KOGrowl.UseSystemNotificationSystem")));
    EXPECT_TRUE(reread.boolForKey(QStringLiteral("GrowlClipNotification.StayOnScreen")));

    // A new start reads the clip flag back; sticky clip notifications stay on screen.
    center.reset();
    defaults->reload();
    center = makeCenter();
    EXPECT_TRUE(center->growlClipNotificationStaysOnScreen());
    clipBatch({0});
    ASSERT_EQ(shown().size(), 1u);
    EXPECT_EQ(shown()[0].expireTimeout, 0);
}

TEST_F(GrowlCenterTest, CleanUpWithdrawsWhatIsStillShown) {
    center->postAudioHardwareNotification(QStringLiteral("Virtual Input 48000Hz"));
    center->postDelayFinderFinishedNotification(QStringLiteral("Transfer: 1 ms"));
    const auto all = shown();
    ASSERT_EQ(all.size(), 2u);
    ASSERT_TRUE(spinUntil([&] { return sink->liveCount() == 2; }));

    center->cleanUp();
    auto closed = server->closed();
    std::sort(closed.begin(), closed.end());
    EXPECT_EQ(closed, (std::vector<uint>{all[0].id, all[1].id}));
}

TEST(GrowlCenterWithoutBusTest, PostsAreLoggedAndTheProgramGoesOn) {
    LogCapture log;
    UserDefaults defaults(freshDefaultsPath());
    const QString name = QStringLiteral("koru-test-dead-growl");
    {
        auto notifications = std::make_unique<DesktopNotifications>(QDBusConnection::connectToBus(
            QStringLiteral("unix:path=/nonexistent/koru-test-bus"), name));
        KOGrowlNotificationCenter center(std::move(notifications), defaults);
        center.postSPLExceededGrowlNotification(nullptr, QStringLiteral("SPL exceeded 100dB"));
        center.postAudioHardwareNotification(QStringLiteral("Virtual Input 48000Hz"));
        center.postDelayFinderFinishedNotification(QStringLiteral("Transfer: 1 ms"));
        center.cleanUp();
    }
    QDBusConnection::disconnectFromBus(name);
    EXPECT_EQ(log.count("Desktop notifications unavailable"), 1);
    EXPECT_EQ(log.count("posting notification: "), 3);
}

} // namespace

// Sets or clears an environment variable for the life of the object.
class ScopedEnv {
public:
    ScopedEnv(const char* name, std::optional<QByteArray> value)
        : m_name(name),
          m_old(qEnvironmentVariableIsSet(name) ? std::optional<QByteArray>(qgetenv(name))
                                                : std::nullopt) {
        set(value);
    }
    ~ScopedEnv() { set(m_old); }

private:
    void set(const std::optional<QByteArray>& value) {
        if (value)
            qputenv(m_name, *value);
        else
            qunsetenv(m_name);
    }
    const char* m_name;
    std::optional<QByteArray> m_old;
};

TEST(GrowlCenterSharedTest, WithoutASessionBusTheProgramLogsOnceAndGoesOn) {
    // Nothing here may have touched the session bus before: Qt connects to it once per process.
    const QString runtime = koru::test::testRoot() + QStringLiteral("/no-runtime");
    QDir().mkpath(runtime);
    const ScopedEnv noUserBus("XDG_RUNTIME_DIR", runtime.toUtf8());
    const ScopedEnv noAddress("DBUS_SESSION_BUS_ADDRESS", std::nullopt);
    const ScopedEnv noAutolaunch("DISPLAY", std::nullopt);
    if (QDBusConnection::sessionBus().isConnected())
        GTEST_SKIP() << "a session bus answers here";

    LogCapture log;
    QElapsedTimer timer;
    timer.start();
    KOGrowlNotificationCenter& center = KOGrowlNotificationCenter::sharedGrowlCenter();
    EXPECT_EQ(&center, &KOGrowlNotificationCenter::sharedGrowlCenter());
    center.postAudioHardwareNotification(QStringLiteral("Virtual Input 48000Hz"));
    center.postDelayFinderFinishedNotification(QStringLiteral("Transfer: 1 ms"));
    QCoreApplication::processEvents();
    center.cleanUp();
    EXPECT_LT(timer.elapsed(), 2000);
    EXPECT_EQ(log.count("Desktop notifications unavailable"), 1);
    EXPECT_EQ(log.count("posting notification: "), 2);
}
