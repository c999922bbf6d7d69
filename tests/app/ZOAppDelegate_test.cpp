#include "FakeBusService.h"
#include "LogCapture.h"
#include "PrivateSessionBus.h"
#include "support/TestSupport.h"

#include "app/ZOAppDelegate.h"

#include <QCoreApplication>
#include <QDBusMessage>

#include <gtest/gtest.h>

#include <atomic>
#include <memory>

using koru::test::FakeBusService;
using koru::test::LogCapture;
using koru::test::PrivateSessionBus;
using koru::test::spinUntil;

namespace {

const QString kScreenSaver = QStringLiteral("org.freedesktop.ScreenSaver");

// A screen-saver service handing out cookies 100, 101, ...
std::unique_ptr<FakeBusService> makeScreenSaver(PrivateSessionBus& bus) {
    auto nextCookie = std::make_shared<std::atomic<uint>>(100);
    return std::make_unique<FakeBusService>(
        bus, kScreenSaver, QStringLiteral("/org/freedesktop/ScreenSaver"), kScreenSaver,
        [nextCookie](const QDBusMessage& message) -> std::optional<QVariantList> {
            if (message.member() == QLatin1String("Inhibit"))
                return QVariantList{QVariant::fromValue(nextCookie->fetch_add(1))};
            if (message.member() == QLatin1String("UnInhibit"))
                return QVariantList{};
            return std::nullopt;
        });
}

// The autosave keeps calling it every 55 s for hours: one inhibition must cover all the calls,
// not pile up one per call, and it must be given back when the program ends.
TEST(ZOAppDelegate, KeepSystemAliveHoldsOneInhibitionForTheDelegatesLife) {
    PrivateSessionBus bus;
    if (!bus.started())
        GTEST_SKIP() << "dbus-daemon could not be started";
    QDBusConnection client = bus.connect(QStringLiteral("client"));
    auto screenSaver = makeScreenSaver(bus);
    ASSERT_TRUE(screenSaver->registered());
    const auto settle = [&] {
        QCoreApplication::processEvents();
        screenSaver->sync(client);
        QCoreApplication::processEvents();
    };

    auto delegate = std::make_unique<ZOAppDelegate>(client);
    settle();
    EXPECT_TRUE(screenSaver->calls(QStringLiteral("Inhibit")).empty());

    for (int autosave = 0; autosave < 5; ++autosave) {
        delegate->keepSystemAlive();
        settle();
    }
    EXPECT_EQ(screenSaver->calls(QStringLiteral("Inhibit")).size(), 1u);
    EXPECT_TRUE(screenSaver->calls(QStringLiteral("UnInhibit")).empty());

    delegate.reset();
    ASSERT_TRUE(spinUntil([&] {
        settle();
        return !screenSaver->calls(QStringLiteral("UnInhibit")).empty();
    }));
    const auto givenBack = screenSaver->calls(QStringLiteral("UnInhibit"));
    ASSERT_EQ(givenBack.size(), 1u);
    EXPECT_EQ(givenBack.front().arguments.value(0).toUInt(), 100u);
}

TEST(ZOAppDelegate, KeepSystemAliveWithoutABusOnlySaysSo) {
    LogCapture log;
    const QString name = QStringLiteral("koru-test-dead-delegate-bus");
    {
        ZOAppDelegate delegate(QDBusConnection::connectToBus(
            QStringLiteral("unix:path=/nonexistent/koru-test-bus"), name));
        delegate.keepSystemAlive();
        delegate.keepSystemAlive();
        EXPECT_EQ(log.count("Idle-sleep inhibition unavailable"), 1);
    }
    QDBusConnection::disconnectFromBus(name);
}

} // namespace
