#pragma once

#include "platform/desktop/NotificationSink.h"

#include <QDBusConnection>
#include <QObject>
#include <QString>

#include <map>
#include <mutex>

namespace koru::platform {

// User notifications through the desktop's notification service (org.freedesktop.Notifications)
// on a D-Bus connection, the session bus by default. Every call is asynchronous, so a dead or
// slow service never holds up the main thread; when no bus or no service answers, one log line
// says so and posts go nowhere. The object belongs to the main thread: posts from other threads
// are handed over to it, because the connection delivers the click signals there.
class DesktopNotifications : public QObject, public NotificationSink {
    Q_OBJECT
public:
    explicit DesktopNotifications(QDBusConnection bus = QDBusConnection::sessionBus(),
                                  QString appName = QStringLiteral("KORU"),
                                  QObject* parent = nullptr);
    ~DesktopNotifications() override;

    void post(const UserNotification& notification) override;
    // On the main thread this waits briefly for the service to confirm, so the withdrawals are
    // out before the program exits.
    void removeAll() override;
    void setClickHandler(ClickHandler handler) override;

    // How many of our notifications the service still shows, as far as we know (main thread).
    std::size_t liveCount() const { return m_live.size(); }

private slots:
    void onActionInvoked(uint id, const QString& actionKey);
    void onNotificationClosed(uint id, uint reason);

private:
    struct Live {
        QVariant context;
        QString replaceKey;
    };

    bool onOwnThread() const;
    void send(const UserNotification& notification);
    void accepted(uint id, const UserNotification& notification);
    void forget(uint id);
    void withdrawAll();
    void reportUnavailable(const QString& reason);

    QDBusConnection m_bus;
    QString m_appName;
    // Both maps are touched on the object's thread only.
    std::map<uint, Live> m_live;     // the service's id -> what a click on it means
    std::map<QString, uint> m_byKey; // replace key -> the service's id showing it
    bool m_reportedUnavailable = false;
    mutable std::mutex m_handlerMutex; // guards m_clickHandler only; never held while calling it
    ClickHandler m_clickHandler;
};

} // namespace koru::platform
