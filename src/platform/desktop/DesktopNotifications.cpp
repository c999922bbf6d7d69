#include "platform/desktop/DesktopNotifications.h"

#include "platform/desktop/MainThread.h"
#include "platform/log/Log.h"

#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QThread>

#include <exception>
#include <utility>
#include <vector>

namespace koru::platform {

namespace {

const QString kService = QStringLiteral("org.freedesktop.Notifications");
const QString kPath = QStringLiteral("/org/freedesktop/Notifications");
const QString kInterface = QStringLiteral("org.freedesktop.Notifications");
const QString kDefaultAction = QStringLiteral("default");

// Long enough for a service that is being started on demand; posts never wait for it anyway.
constexpr int kPostTimeoutMs = 5000;
// What the program may spend withdrawing its notifications on the way out.
constexpr int kWithdrawTimeoutMs = 500;
// Expiry codes of the notification protocol.
constexpr int kExpireByServer = -1;
constexpr int kExpireNever = 0;
constexpr uchar kUrgencyNormal = 1;

QDBusMessage methodCall(const QString& method) {
    return QDBusMessage::createMethodCall(kService, kPath, kInterface, method);
}

} // namespace

DesktopNotifications::DesktopNotifications(QDBusConnection bus, QString appName, QObject* parent)
    : QObject(parent), m_bus(std::move(bus)), m_appName(std::move(appName)) {
    moveToMainThread(*this);
    if (!m_bus.isConnected()) {
        reportUnavailable(QStringLiteral("no session bus"));
        return;
    }
    m_bus.connect(kService, kPath, kInterface, QStringLiteral("ActionInvoked"), this,
                  SLOT(onActionInvoked(uint, QString)));
    m_bus.connect(kService, kPath, kInterface, QStringLiteral("NotificationClosed"), this,
                  SLOT(onNotificationClosed(uint, uint)));
}

DesktopNotifications::~DesktopNotifications() = default;

bool DesktopNotifications::onOwnThread() const {
    return QThread::currentThread() == thread();
}

void DesktopNotifications::post(const UserNotification& notification) {
    if (onOwnThread()) {
        send(notification);
        return;
    }
    postToMainThread(this, [this, notification] { send(notification); });
}

void DesktopNotifications::removeAll() {
    if (onOwnThread()) {
        withdrawAll();
        return;
    }
    postToMainThread(this, [this] { withdrawAll(); });
}

void DesktopNotifications::setClickHandler(ClickHandler handler) {
    std::lock_guard lock(m_handlerMutex);
    m_clickHandler = std::move(handler);
}

void DesktopNotifications::send(const UserNotification& notification) {
    if (!m_bus.isConnected()) {
        reportUnavailable(QStringLiteral("no session bus"));
        return;
    }
    uint replacesId = 0;
    if (!notification.replaceKey.isEmpty()) {
        const auto shown = m_byKey.find(notification.replaceKey);
        if (shown != m_byKey.end())
            replacesId = shown->second;
    }
    const QVariantMap hints{{QStringLiteral("urgency"), QVariant::fromValue(kUrgencyNormal)}};
    QDBusMessage call = methodCall(QStringLiteral("Notify"));
    call << m_appName << replacesId << QString() << notification.title << notification.body
         << QStringList{kDefaultAction, QString()} << hints
         << (notification.sticky ? kExpireNever : kExpireByServer);
    auto* watcher = new QDBusPendingCallWatcher(m_bus.asyncCall(call, kPostTimeoutMs), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [this, notification](QDBusPendingCallWatcher* finished) {
                const QDBusPendingReply<uint> reply = *finished;
                finished->deleteLater();
                if (reply.isError()) {
                    reportUnavailable(reply.error().message());
                    return;
                }
                accepted(reply.value(), notification);
            });
}

void DesktopNotifications::accepted(uint id, const UserNotification& notification) {
    forget(id);
    if (!notification.replaceKey.isEmpty()) {
        const auto shown = m_byKey.find(notification.replaceKey);
        if (shown != m_byKey.end() && shown->second != id)
            m_live.erase(shown->second);
        m_byKey[notification.replaceKey] = id;
    }
    m_live[id] = Live{notification.context, notification.replaceKey};
}

void DesktopNotifications::forget(uint id) {
    const auto live = m_live.find(id);
    if (live == m_live.end())
        return;
    const auto keyed = m_byKey.find(live->second.replaceKey);
    if (keyed != m_byKey.end() && keyed->second == id)
        m_byKey.erase(keyed);
    m_live.erase(live);
}

void DesktopNotifications::withdrawAll() {
    std::vector<QDBusPendingCall> pending;
    for (const auto& [id, live] : m_live) {
        QDBusMessage call = methodCall(QStringLiteral("CloseNotification"));
        call << id;
        pending.push_back(m_bus.asyncCall(call, kWithdrawTimeoutMs));
    }
    m_live.clear();
    m_byKey.clear();
    // The calls run in parallel and each gives up after the timeout, so this wait is bounded.
    for (auto& call : pending)
        call.waitForFinished();
}

void DesktopNotifications::onActionInvoked(uint id, const QString& actionKey) {
    if (actionKey != kDefaultAction)
        return;
    const auto live = m_live.find(id);
    if (live == m_live.end())
        return; // another program's notification, or one already withdrawn
    const QVariant context = live->second.context;
    ClickHandler handler;
    {
        std::lock_guard lock(m_handlerMutex);
        handler = m_clickHandler;
    }
    if (!handler)
        return;
    try {
        handler(context);
    } catch (const std::exception& e) {
        koru::log::error("notification click handler failed: {}", e.what());
    } catch (...) {
        koru::log::error("notification click handler failed");
    }
}

void DesktopNotifications::onNotificationClosed(uint id, uint /*reason*/) {
    forget(id);
}

void DesktopNotifications::reportUnavailable(const QString& reason) {
    if (m_reportedUnavailable)
        return;
    m_reportedUnavailable = true;
    koru::log::info("Desktop notifications unavailable ({}); notifications are only logged",
                    reason.toStdString());
}

} // namespace koru::platform
