#include "platform/desktop/IdleInhibitor.h"

#include "platform/desktop/MainThread.h"
#include "platform/log/Log.h"

#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusServiceWatcher>

#include <utility>

namespace koru::platform {

namespace {

const QString kService = QStringLiteral("org.freedesktop.ScreenSaver");
const QString kPath = QStringLiteral("/org/freedesktop/ScreenSaver");
const QString kInterface = QStringLiteral("org.freedesktop.ScreenSaver");
constexpr int kCallTimeoutMs = 5000;

void giveBack(QDBusConnection& bus, uint cookie) {
    QDBusMessage call =
        QDBusMessage::createMethodCall(kService, kPath, kInterface, QStringLiteral("UnInhibit"));
    call << cookie;
    bus.send(call); // nobody waits for the answer
}

} // namespace

IdleInhibitor::IdleInhibitor(QDBusConnection bus, QString appName, QString reason, QObject* parent)
    : QObject(parent), m_bus(std::move(bus)), m_appName(std::move(appName)),
      m_reason(std::move(reason)) {
    moveToMainThread(*this);
    if (!m_bus.isConnected()) {
        reportUnavailable(QStringLiteral("no session bus"));
        return;
    }
    m_serviceWatcher = new QDBusServiceWatcher(kService, m_bus,
                                               QDBusServiceWatcher::WatchForRegistration |
                                                   QDBusServiceWatcher::WatchForUnregistration,
                                               this);
    connect(m_serviceWatcher, &QDBusServiceWatcher::serviceRegistered, this, [this] {
        if (!m_cookie && !m_pending)
            inhibit();
    });
    connect(m_serviceWatcher, &QDBusServiceWatcher::serviceUnregistered, this,
            [this] { serviceVanished(); });
    inhibit();
}

IdleInhibitor::~IdleInhibitor() {
    if (m_pending) {
        // The answer is still on its way: give the inhibition back once it arrives.
        QDBusPendingCallWatcher* call = m_pending;
        call->disconnect(this);
        call->setParent(nullptr);
        connect(call, &QDBusPendingCallWatcher::finished, call,
                [bus = m_bus](QDBusPendingCallWatcher* finished) mutable {
                    const QDBusPendingReply<uint> reply = *finished;
                    if (!reply.isError())
                        giveBack(bus, reply.value());
                    finished->deleteLater();
                });
    }
    if (m_cookie)
        giveBack(m_bus, *m_cookie);
}

void IdleInhibitor::inhibit() {
    QDBusMessage call =
        QDBusMessage::createMethodCall(kService, kPath, kInterface, QStringLiteral("Inhibit"));
    call << m_appName << m_reason;
    m_pending = new QDBusPendingCallWatcher(m_bus.asyncCall(call, kCallTimeoutMs), this);
    connect(m_pending, &QDBusPendingCallWatcher::finished, this,
            [this](QDBusPendingCallWatcher* finished) { granted(finished); });
}

void IdleInhibitor::granted(QDBusPendingCallWatcher* call) {
    const QDBusPendingReply<uint> reply = *call;
    call->deleteLater();
    m_pending.clear();
    if (reply.isError()) {
        reportUnavailable(reply.error().message());
        return;
    }
    m_cookie = reply.value();
}

void IdleInhibitor::serviceVanished() {
    // The service dropped its inhibitions with it; a new one starts with none of ours.
    m_cookie.reset();
}

void IdleInhibitor::reportUnavailable(const QString& reason) {
    if (m_reportedUnavailable)
        return;
    m_reportedUnavailable = true;
    koru::log::info("Idle-sleep inhibition unavailable ({}); the machine may sleep while KORU runs",
                    reason.toStdString());
}

} // namespace koru::platform
