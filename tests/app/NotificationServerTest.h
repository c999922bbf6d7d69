#pragma once

#include "FakeNotificationServer.h"
#include "PrivateSessionBus.h"

#include <QDBusConnection>
#include <QString>

#include <gtest/gtest.h>

#include <memory>

namespace koru::test {

// A private session bus with the fake notification service on it and a client connection to
// post through. Derived fixtures call SetUp() first and stop when it skipped or failed.
class NotificationServerTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!bus.started())
            GTEST_SKIP() << "dbus-daemon could not be started";
        server = std::make_unique<FakeNotificationServer>(bus);
        ASSERT_TRUE(server->registered());
        client = bus.connect(QStringLiteral("client"));
    }

    void TearDown() override { server.reset(); }

    bool busReady() const { return !IsSkipped() && !HasFatalFailure(); }

    PrivateSessionBus bus;
    QDBusConnection client{QString()};
    std::unique_ptr<FakeNotificationServer> server;
};

} // namespace koru::test
