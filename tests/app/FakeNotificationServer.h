#pragma once

#include "FakeBusService.h"

#include <QStringList>
#include <QVariantMap>

#include <mutex>
#include <vector>

namespace koru::test {

// A desktop notification service (org.freedesktop.Notifications) on a private bus: records what
// it is asked to show and lets a test click or dismiss a notification.
class FakeNotificationServer {
public:
    struct Shown {
        uint id = 0;
        uint replacesId = 0;
        QString appName;
        QString summary;
        QString body;
        QStringList actions;
        QVariantMap hints;
        int expireTimeout = 0;
    };

    explicit FakeNotificationServer(PrivateSessionBus& bus);

    bool registered() const { return m_service.registered(); }
    // Every Notify call, in order.
    std::vector<Shown> shown() const;
    std::vector<uint> closed() const;
    void click(uint id, const QString& actionKey = QStringLiteral("default"));
    void dismiss(uint id);
    void sync(QDBusConnection& client) { m_service.sync(client); }

private:
    std::optional<QVariantList> answer(const QDBusMessage& message);

    mutable std::mutex m_mutex; // guards m_shown, m_closed and m_nextId
    std::vector<Shown> m_shown;
    std::vector<uint> m_closed;
    uint m_nextId = 1;
    // Last: goes first, before what it answers from. Held by value, so the service thread never
    // reads a pointer the constructor is still storing.
    FakeBusService m_service;
};

} // namespace koru::test
