#pragma once

// An Avahi daemon of a test's own on a private system bus: DBUS_SYSTEM_BUS_ADDRESS points this
// process at it while it runs. The daemon needs root (it keeps its pid file in /run) and announces
// on the machine's real interfaces, loopback included.

#include "support/TestSupport.h"

#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <unistd.h>

namespace koru::test {

class PrivateAvahi {
public:
    ~PrivateAvahi() {
        stop(m_avahi);
        stop(m_bus);
        if (m_previousBus.isNull())
            qunsetenv("DBUS_SYSTEM_BUS_ADDRESS");
        else
            qputenv("DBUS_SYSTEM_BUS_ADDRESS", m_previousBus);
    }

    // Empty when the daemon is up; otherwise why it cannot run here.
    QString start() {
        const QString avahi =
            QStandardPaths::findExecutable("avahi-daemon", {"/usr/sbin", "/sbin"});
        const QString bus = QStandardPaths::findExecutable("dbus-daemon");
        if (avahi.isEmpty() || bus.isEmpty())
            return QStringLiteral("avahi-daemon or dbus-daemon is not installed");
        if (geteuid() != 0)
            return QStringLiteral("avahi-daemon needs root");
        if (!m_folder.isValid())
            return QStringLiteral("no temporary folder");
        const QString socket = m_folder.filePath("bus");
        write("bus.conf",
              "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\""
              " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
              "<busconfig><type>system</type><listen>unix:path=" +
                  socket.toUtf8() +
                  "</listen><auth>EXTERNAL</auth><policy context=\"default\">"
                  "<allow send_destination=\"*\" eavesdrop=\"true\"/><allow eavesdrop=\"true\"/>"
                  "<allow own=\"*\"/><allow user=\"*\"/>"
                  "</policy></busconfig>\n");
        write("avahi.conf", "[server]\nuse-ipv4=yes\nuse-ipv6=no\nenable-dbus=yes\n"
                            "[wide-area]\nenable-wide-area=no\n"
                            "[publish]\npublish-hinfo=no\npublish-workstation=no\n");
        m_bus.setProcessChannelMode(QProcess::MergedChannels);
        m_bus.start(bus, {"--nofork", "--config-file=" + m_folder.filePath("bus.conf")});
        if (!m_bus.waitForStarted(5000) || !spinUntil([&] { return QFile::exists(socket); }, 10000))
            return QStringLiteral("the private bus did not start");
        m_previousBus = qgetenv("DBUS_SYSTEM_BUS_ADDRESS");
        qputenv("DBUS_SYSTEM_BUS_ADDRESS", ("unix:path=" + socket).toUtf8());

        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("DBUS_SYSTEM_BUS_ADDRESS", "unix:path=" + socket);
        m_avahi.setProcessEnvironment(environment);
        m_avahi.setProcessChannelMode(QProcess::MergedChannels);
        m_avahi.start(avahi, {"--no-drop-root", "--no-chroot", "--no-rlimits", "-f",
                              m_folder.filePath("avahi.conf")});
        QByteArray said;
        spinUntil(
            [&] {
                m_avahi.waitForReadyRead(100);
                said += m_avahi.readAll();
                return said.contains("Server startup complete") ||
                       m_avahi.state() != QProcess::Running;
            },
            15000);
        if (!said.contains("Server startup complete"))
            return QStringLiteral("avahi-daemon did not start: ") + QString::fromUtf8(said);
        return {};
    }

private:
    void write(const char* name, const QByteArray& text) {
        QFile f(m_folder.filePath(name));
        if (f.open(QIODevice::WriteOnly))
            f.write(text);
    }

    static void stop(QProcess& p) {
        if (p.state() == QProcess::NotRunning)
            return;
        p.terminate(); // lets avahi-daemon remove its pid file
        if (!p.waitForFinished(5000)) {
            p.kill();
            p.waitForFinished(5000);
        }
    }

    QTemporaryDir m_folder;
    QProcess m_bus;
    QProcess m_avahi;
    QByteArray m_previousBus;
};

} // namespace koru::test
