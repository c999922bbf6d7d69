#pragma once

#include <QDBusConnection>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <sys/types.h>

namespace koru::test {

// A D-Bus session bus of the test's own: a dbus-daemon started for the life of the object and
// stopped afterwards, without service activation, so no desktop service of the machine answers.
class PrivateSessionBus {
public:
    PrivateSessionBus();
    ~PrivateSessionBus();

    PrivateSessionBus(const PrivateSessionBus&) = delete;
    PrivateSessionBus& operator=(const PrivateSessionBus&) = delete;

    // False when the daemon could not be started (the caller skips).
    bool started() const { return !m_address.isEmpty(); }
    QString address() const { return m_address; }

    // A new connection to this bus; closed when the bus object goes away.
    QDBusConnection connect(const QString& purpose);

private:
    QTemporaryDir m_dir;
    pid_t m_daemon = -1;
    int m_daemonOutput = -1; // kept open: the daemon must not write into a closed pipe
    QString m_address;
    QStringList m_connections;
};

} // namespace koru::test
