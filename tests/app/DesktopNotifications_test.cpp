#include "FakeNotificationServer.h"
#include "LogCapture.h"
#include "NotificationServerTest.h"
#include "PrivateSessionBus.h"
#include "support/TestSupport.h"

#include "platform/desktop/DesktopNotifications.h"

#include <QCoreApplication>
#include <QDBusConnectionInterface>
#include <QThread>

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <optional>
#include <thread>

using koru::platform::DesktopNotifications;
using koru::platform::UserNotification;
using koru::test::FakeNotificationServer;
using koru::test::LogCapture;
using koru::test::NotificationServerTest;
using koru::test::PrivateSessionBus;
using koru::test::spinUntil;

namespace {

UserNotification note(const QString& title, QVariant context = {}, QString replaceKey = {},
                      bool sticky = false) {
    UserNotification n;
    n.title = title;
    n.body = title + QStringLiteral(" body");
    n.context = std::move(context);
    n.replaceKey = std::move(replaceKey);
    n.sticky = sticky;
    return n;
}

class DesktopNotificationsTest : public NotificationServerTest {
protected:
    void SetUp() override {
        NotificationServerTest::SetUp();
        if (!busReady())
            return;
        notifications = std::make_unique<DesktopNotifications>(client);
        notifications->setClickHandler([this](const QVariant& context) {
            clicks.push_back(context);
            clickedOnMainThread = QThread::currentThread() == qApp->thread();
        });
    }

    void TearDown() override {
        notifications.reset();
        NotificationServerTest::TearDown();
    }

    // Waits until the service has seen `count` posts and their ids are back with us.
    bool posted(std::size_t count, std::size_t live) {
        QCoreApplication::processEvents();
        server->sync(client);
        return server->shown().size() == count &&
               spinUntil([&] { return notifications->liveCount() == live; }, 2000);
    }

    std::unique_ptr<DesktopNotifications> notifications;
    std::vector<QVariant> clicks;
    bool clickedOnMainThread = false;
};

TEST_F(DesktopNotificationsTest, PostsTextsDefaultActionAndExpiry) {
    notifications->post(note(QStringLiteral("Passing"), {}, {}, false));
    notifications->post(note(QStringLiteral("Staying"), {}, {}, true));
    ASSERT_TRUE(posted(2, 2));

    const auto shown = server->shown();
    EXPECT_EQ(shown[0].appName, QStringLiteral("KORU"));
    EXPECT_EQ(shown[0].summary, QStringLiteral("Passing"));
    EXPECT_EQ(shown[0].body, QStringLiteral("Passing body"));
    EXPECT_EQ(shown[0].actions, (QStringList{QStringLiteral("default"), QString()}));
    EXPECT_EQ(shown[0].hints.value(QStringLiteral("urgency")).toInt(), 1);
    EXPECT_EQ(shown[0].replacesId, 0u);
    EXPECT_EQ(shown[0].expireTimeout, -1);
    EXPECT_EQ(shown[1].summary, QStringLiteral("Staying"));
    EXPECT_EQ(shown[1].expireTimeout, 0);
    EXPECT_NE(shown[0].id, shown[1].id);
}

TEST_F(DesktopNotificationsTest, SameReplaceKeyTakesThePlaceOfTheShownOne) {
    notifications->post(note(QStringLiteral("first"), 1u, QStringLiteral("kind")));
    ASSERT_TRUE(posted(1, 1));
    notifications->post(note(QStringLiteral("second"), 2u, QStringLiteral("kind")));
    notifications->post(note(QStringLiteral("other"), 3u, QStringLiteral("other kind")));
    ASSERT_TRUE(posted(3, 2));

    const auto shown = server->shown();
    EXPECT_EQ(shown[1].replacesId, shown[0].id);
    EXPECT_EQ(shown[2].replacesId, 0u);

    // The replaced notification now means what the newer one means.
    server->click(shown[0].id);
    ASSERT_TRUE(spinUntil([&] { return clicks.size() == 1; }));
    EXPECT_EQ(clicks[0], QVariant(2u));
}

TEST_F(DesktopNotificationsTest, DefaultActionClickHandsBackTheContextOnTheMainThread) {
    notifications->post(note(QStringLiteral("clip"), 7u));
    notifications->post(note(QStringLiteral("text"), QStringLiteral("some text")));
    ASSERT_TRUE(posted(2, 2));
    const auto shown = server->shown();

    server->click(shown[0].id, QStringLiteral("other-action"));
    server->click(shown[0].id + 100); // not ours
    server->click(shown[1].id);
    server->click(shown[0].id);
    ASSERT_TRUE(spinUntil([&] { return clicks.size() == 2; }));
    EXPECT_EQ(clicks[0], QVariant(QStringLiteral("some text")));
    EXPECT_EQ(clicks[1], QVariant(7u));
    EXPECT_TRUE(clickedOnMainThread);
}

TEST_F(DesktopNotificationsTest, DismissedNotificationIsForgotten) {
    notifications->post(
        note(QStringLiteral("hardware"), QStringLiteral("ctx"), QStringLiteral("hardware")));
    ASSERT_TRUE(posted(1, 1));
    const uint id = server->shown()[0].id;

    server->dismiss(id);
    ASSERT_TRUE(spinUntil([&] { return notifications->liveCount() == 0; }));
    server->click(id);
    notifications->post(
        note(QStringLiteral("hardware again"), QStringLiteral("ctx"), QStringLiteral("hardware")));
    ASSERT_TRUE(posted(2, 1));
    EXPECT_TRUE(clicks.empty());
    EXPECT_EQ(server->shown()[1].replacesId, 0u);
}

TEST_F(DesktopNotificationsTest, RemoveAllClosesEveryNotificationStillShown) {
    notifications->post(note(QStringLiteral("a"), 1u));
    notifications->post(note(QStringLiteral("b"), 2u));
    notifications->post(note(QStringLiteral("c"), 3u));
    ASSERT_TRUE(posted(3, 3));
    const auto shown = server->shown();
    server->dismiss(shown[1].id);
    ASSERT_TRUE(spinUntil([&] { return notifications->liveCount() == 2; }));

    notifications->removeAll();
    EXPECT_EQ(notifications->liveCount(), 0u);
    auto closed = server->closed();
    std::sort(closed.begin(), closed.end());
    EXPECT_EQ(closed, (std::vector<uint>{shown[0].id, shown[2].id}));
}

TEST_F(DesktopNotificationsTest, PostsFromAnotherThreadArrive) {
    // The poster outlives the delivery, so nothing but the hand-off itself orders what it wrote
    // before the main thread reads it.
    std::atomic<bool> done = false;
    std::thread poster([&] {
        for (uint i = 0; i < 5; ++i)
            notifications->post(note(QStringLiteral("from a worker %1").arg(i), i));
        while (!done)
            std::this_thread::yield();
    });
    const bool arrived = spinUntil([&] { return posted(5, 5); });
    done = true;
    poster.join();
    ASSERT_TRUE(arrived);
    const auto shown = server->shown();
    for (uint i = 0; i < 5; ++i)
        EXPECT_EQ(shown[i].summary, QStringLiteral("from a worker %1").arg(i));

    server->click(shown[3].id);
    ASSERT_TRUE(spinUntil([&] { return clicks.size() == 1; }));
    EXPECT_EQ(clicks[0], QVariant(3u));
    EXPECT_TRUE(clickedOnMainThread);
}

class DesktopNotificationsUnavailableTest : public ::testing::Test {
protected:
    static constexpr const char* kUnavailable = "Desktop notifications unavailable";

    static void postSome(DesktopNotifications& notifications) {
        for (int i = 0; i < 3; ++i)
            notifications.post(note(QStringLiteral("nobody listens")));
    }

    LogCapture log;
};

TEST_F(DesktopNotificationsUnavailableTest, WithoutABusLogsOnceAndPostsNothing) {
    const QDBusConnection dead = QDBusConnection::connectToBus(
        QStringLiteral("unix:path=/nonexistent/koru-test-bus"), QStringLiteral("koru-test-dead"));
    ASSERT_FALSE(dead.isConnected());
    {
        DesktopNotifications notifications(dead);
        postSome(notifications);
        notifications.removeAll();
        EXPECT_EQ(notifications.liveCount(), 0u);
    }
    QDBusConnection::disconnectFromBus(QStringLiteral("koru-test-dead"));
    EXPECT_EQ(log.count(kUnavailable), 1);
}

TEST_F(DesktopNotificationsUnavailableTest, WithoutAServiceLogsOnce) {
    PrivateSessionBus bus;
    if (!bus.started())
        GTEST_SKIP() << "dbus-daemon could not be started";
    QDBusConnection lonely = bus.connect(QStringLiteral("lonely"));
    DesktopNotifications notifications(lonely);
    postSome(notifications);
    ASSERT_TRUE(spinUntil([&] { return log.count(kUnavailable) > 0; }));
    postSome(notifications);
    // The bus answers in order: once it has answered a later call, the failures of the second
    // posts have arrived too.
    QCoreApplication::processEvents();
    lonely.interface()->isServiceRegistered(QStringLiteral("org.freedesktop.Notifications"));
    QCoreApplication::processEvents();
    EXPECT_EQ(log.count(kUnavailable), 1);
    EXPECT_EQ(notifications.liveCount(), 0u);
}

} // namespace
