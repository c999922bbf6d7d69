#pragma once

#include <QDBusConnection>
#include <QObject>
#include <QPointer>
#include <QString>

#include <optional>

class QDBusPendingCallWatcher;
class QDBusServiceWatcher;

namespace koru::platform {

// Keeps the machine out of idle sleep for as long as the object lives, through the desktop's
// screen-saver service (org.freedesktop.ScreenSaver Inhibit/UnInhibit) on the session bus.
//
// One inhibition held for the whole life of the object rather than an activity report every
// 55 s: the service ties the inhibition to our bus connection, so it ends by itself if the
// program dies, and no timer has to keep firing. Should the service start late or restart (which
// drops every inhibition it held), the object inhibits again as soon as the service appears.
// Without a bus or a service one log line says so and nothing else happens. Calls never block.
class IdleInhibitor : public QObject {
    Q_OBJECT
public:
    explicit IdleInhibitor(QDBusConnection bus = QDBusConnection::sessionBus(),
                           QString appName = QStringLiteral("KORU"),
                           QString reason = QStringLiteral("Measuring audio"),
                           QObject* parent = nullptr);
    ~IdleInhibitor() override;

    IdleInhibitor(const IdleInhibitor&) = delete;
    IdleInhibitor& operator=(const IdleInhibitor&) = delete;

    // True once the service has granted the inhibition and while it holds it.
    bool isInhibiting() const { return m_cookie.has_value(); }

private:
    void inhibit();
    void granted(QDBusPendingCallWatcher* call);
    void serviceVanished();
    void reportUnavailable(const QString& reason);

    QDBusConnection m_bus;
    QString m_appName;
    QString m_reason;
    std::optional<uint> m_cookie;
    QPointer<QDBusPendingCallWatcher> m_pending; // an Inhibit call not answered yet
    QDBusServiceWatcher* m_serviceWatcher = nullptr;
    bool m_reportedUnavailable = false;
};

} // namespace koru::platform
