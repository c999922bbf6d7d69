#include "PrivateSessionBus.h"

#include <QFile>

#include <atomic>
#include <chrono>
#include <optional>
#include <string>

namespace koru::test {

namespace {

constexpr std::chrono::milliseconds kStartTimeout{5000};

QString busConfig(const QString& socketDir) {
    return QStringLiteral(
               R"(<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>session</type>
  <listen>unix:dir=%1</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow send_destination="*" eavesdrop="true"/>
    <allow eavesdrop="true"/>
    <allow own="*"/>
  </policy>
</busconfig>
)")
        .arg(socketDir);
}

} // namespace

PrivateSessionBus::PrivateSessionBus() {
    if (!m_dir.isValid())
        return;
    const QString configPath = m_dir.filePath(QStringLiteral("bus.conf"));
    QFile config(configPath);
    if (!config.open(QIODevice::WriteOnly))
        return;
    config.write(busConfig(m_dir.path()).toUtf8());
    config.close();
    if (!m_daemon.start("dbus-daemon", {"--config-file=" + configPath.toStdString(), "--nofork",
                                        "--print-address=1"}))
        return;
    const std::optional<std::string> address = m_daemon.readLine(kStartTimeout);
    if (address)
        m_address = QString::fromStdString(*address).trimmed();
}

PrivateSessionBus::~PrivateSessionBus() {
    for (const QString& name : m_connections)
        QDBusConnection::disconnectFromBus(name);
    m_daemon.stop(kStartTimeout);
}

QDBusConnection PrivateSessionBus::connect(const QString& purpose) {
    // Qt keeps named connections per process: every one gets a name never used before.
    static std::atomic<int> serial{0};
    const QString name = QStringLiteral("koru-test-%1-%2").arg(purpose).arg(++serial);
    m_connections << name;
    return QDBusConnection::connectToBus(m_address, name);
}

} // namespace koru::test
