#include "FakeBusService.h"
#include "LogCapture.h"
#include "PrivateSessionBus.h"
#include "support/TestSupport.h"

#include "platform/desktop/IdleInhibitor.h"

#include <QCoreApplication>
#include <QDBusMessage>

#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <memory>
#include <utility>

using koru::platform::IdleInhibitor;
using koru::test::FakeBusService;
using koru::test::LogCapture;
using koru::test::PrivateSessionBus;
using koru::test::spinUntil;

namespace {

constexpr const char* kUnavailable = "Idle-sleep inhibition unavailable";

std::shared_future<void> alreadyOpen() {
    std::promise<void> open;
    open.set_value();
    return open.get_future().share();
}

// Holds a service's answers back until opened, as a busy service would; opens when it goes, so
// a service waiting on it can always be shut down.
class AnswerGate {
public:
    std::shared_future<void> future() { return m_open.get_future().share(); }
    void open() {
        if (!std::exchange(m_opened, true))
            m_open.set_value();
    }
    ~AnswerGate() { open(); }

private:
    std::promise<void> m_open;
    bool m_opened = false;
};

// A screen-saver service handing out cookies 100, 101, ...; each Inhibit answer waits for
// `answer`.
std::unique_ptr<FakeBusService> makeScreenSaver(PrivateSessionBus& bus,
                                                std::shared_future<void> answer = alreadyOpen()) {
    auto nextCookie = std::make_shared<std::atomic<uint>>(100);
    const QString name = QStringLiteral("org.freedesktop.ScreenSaver");
    return std::make_unique<FakeBusService>(
        bus, name, QStringLiteral("/org/freedesktop/ScreenSaver"), name,
        [nextCookie, answer](const QDBusMessage& message) -> std::optional<QVariantList> {
            if (message.member() == QLatin1String("Inhibit")) {
                answer.wait();
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
    std::unique_ptr<FakeBusService> screenSaver;
    AnswerGate answer; // declared after the service: opens before the service goes
    screenSaver = makeScreenSaver(bus, answer.future());
    auto inhibitor = std::make_unique<IdleInhibitor>(client);
    ASSERT_TRUE(
        spinUntil([&] { return screenSaver->calls(QStringLiteral("Inhibit")).size() == 1; }));
    inhibitor.reset();
    answer.open();
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
        ASSERT_TRUE(spinUntil([&] { return log.count(kUnavailable) > 0; }));
        EXPECT_FALSE(inhibitor.isInhibiting());
    }
    QDBusConnection::disconnectFromBus(name);
    EXPECT_EQ(log.count(kUnavailable), 1);
}

} // namespace
