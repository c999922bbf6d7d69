#include "FakeBusService.h"
#include "LogCapture.h"
#include "PrivateSessionBus.h"
#include "support/TestSupport.h"

#include "platform/desktop/IdleInhibitor.h"

#include <QCoreApplication>
#include <QDBusMessage>
#include <QThread>

#include <gtest/gtest.h>

#include <atomic>
#include <memory>

using koru::platform::IdleInhibitor;
using koru::test::FakeBusService;
using koru::test::LogCapture;
using koru::test::PrivateSessionBus;
using koru::test::spinUntil;

namespace {

constexpr const char* kUnavailable = "Idle-sleep inhibition unavailable";

// A screen-saver service handing out cookies 100, 101, ...; `answerDelayMs` holds each Inhibit
// answer back, as a busy service would.
std::unique_ptr<FakeBusService> makeScreenSaver(PrivateSessionBus& bus, int answerDelayMs = 0) {
    auto nextCookie = std::make_shared<std::atomic<uint>>(100);
    const QString name = QStringLiteral("org.freedesktop.ScreenSaver");
    return std::make_unique<FakeBusService>(
        bus, name, QStringLiteral("/org/freedesktop/ScreenSaver"), name,
        [nextCookie, answerDelayMs](const QDBusMessage& message) -> std::optional<QVariantList> {
            if (message.member() == QLatin1String("Inhibit")) {
                QThread::msleep(answerDelayMs);
                return QVariantList{QVariant::fromValue(nextCookie->fetch_add(1))};
            }
            if (message.member() == QLatin1String("UnInhibit"))
                return QVariantList{};
            return std::nullopt;
        });
}

std::vector<uint> cookiesGivenBack(const FakeBusService& service) {
    std::vector<uint> cookies;
    for (const auto& call : service.calls(QStringLiteral("UnInhibit")))
        cookies.push_back(call.arguments.value(0).toUInt());
    return cookies;
}

class IdleInhibitorTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!bus.started())
            GTEST_SKIP() << "dbus-daemon could not be started";
        client = bus.connect(QStringLiteral("client"));
    }

    // Waits until everything sent to `service` so far has been handled.
    void settle(FakeBusService& service) {
        QCoreApplication::processEvents();
        service.sync(client);
    }

    LogCapture log;
    PrivateSessionBus bus;
    QDBusConnection client{QString()};
};

TEST_F(IdleInhibitorTest, InhibitsWhileAliveAndGivesTheCookieBack) {
    auto screenSaver = makeScreenSaver(bus);
    ASSERT_TRUE(screenSaver->registered());
    auto inhibitor = std::make_unique<IdleInhibitor>(client);
    ASSERT_TRUE(spinUntil([&] { return inhibitor->isInhibiting(); }));

    const auto inhibits = screenSaver->calls(QStringLiteral("Inhibit"));
    ASSERT_EQ(inhibits.size(), 1u);
    EXPECT_EQ(inhibits[0].arguments.value(0).toString(), QStringLiteral("KORU"));
    EXPECT_FALSE(inhibits[0].arguments.value(1).toString().isEmpty());
    EXPECT_TRUE(cookiesGivenBack(*screenSaver).empty());

    inhibitor.reset();
    settle(*screenSaver);
    EXPECT_EQ(cookiesGivenBack(*screenSaver), std::vector<uint>{100});
    EXPECT_EQ(log.count(kUnavailable), 0);
}

TEST_F(IdleInhibitorTest, DestroyedBeforeTheAnswerStillGivesTheCookieBack) {
    auto screenSaver = makeScreenSaver(bus, 200);
    auto inhibitor = std::make_unique<IdleInhibitor>(client);
    inhibitor.reset();
    ASSERT_TRUE(spinUntil([&] {
        settle(*screenSaver);
        return !cookiesGivenBack(*screenSaver).empty();
    }));
    EXPECT_EQ(cookiesGivenBack(*screenSaver), std::vector<uint>{100});
}

TEST_F(IdleInhibitorTest, InhibitsAgainWhenTheServiceComesOrComesBack) {
    IdleInhibitor inhibitor(client);
    ASSERT_TRUE(spinUntil([&] { return log.count(kUnavailable) == 1; }));
    EXPECT_FALSE(inhibitor.isInhibiting());

    auto screenSaver = makeScreenSaver(bus);
    ASSERT_TRUE(spinUntil([&] { return inhibitor.isInhibiting(); }));

    // A restarted service has forgotten every inhibition: ask the new one.
    screenSaver.reset();
    ASSERT_TRUE(spinUntil([&] { return !inhibitor.isInhibiting(); }));
    auto restarted = makeScreenSaver(bus);
    ASSERT_TRUE(spinUntil([&] { return inhibitor.isInhibiting(); }));
    EXPECT_EQ(restarted->calls(QStringLiteral("Inhibit")).size(), 1u);
    EXPECT_EQ(log.count(kUnavailable), 1);
}

TEST(IdleInhibitorWithoutBusTest, LogsOnceAndDoesNothing) {
    LogCapture log;
    const QString name = QStringLiteral("koru-test-dead-inhibitor");
    {
        const QDBusConnection dead = QDBusConnection::connectToBus(
            QStringLiteral("unix:path=/nonexistent/koru-test-bus"), name);
        IdleInhibitor inhibitor(dead);
        spinUntil([] { return false; }, 100);
        EXPECT_FALSE(inhibitor.isInhibiting());
    }
    QDBusConnection::disconnectFromBus(name);
    EXPECT_EQ(log.count(kUnavailable), 1);
}

} // namespace
