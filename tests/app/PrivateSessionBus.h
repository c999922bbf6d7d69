#pragma once

#include "support/SpawnedProcess.h"

#include <QDBusConnection>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

namespace koru::test {

// A D-Bus session bus of the test's own: a dbus-daemon started for the life of the object and
// killed afterwards, without service activation, so no desktop service of the machine answers.
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
    SpawnedProcess m_daemon;
    QString m_address;
    QStringList m_connections;
};

} // namespace koru::test
