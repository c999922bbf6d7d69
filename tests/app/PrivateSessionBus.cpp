#include "PrivateSessionBus.h"

#include <QFile>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>

extern char** environ;

namespace koru::test {

namespace {

constexpr int kStartTimeoutMs = 5000;

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

// The first line the daemon writes, trimmed; empty when none comes within `timeoutMs`.
QString readLine(int fd, int timeoutMs) {
    QByteArray line;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!line.contains('\n')) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        pollfd readable{fd, POLLIN, 0};
        if (left.count() <= 0 || poll(&readable, 1, int(left.count())) <= 0)
            return {};
        char buffer[256];
        const ssize_t count = read(fd, buffer, sizeof buffer);
        if (count <= 0)
            return {};
        line.append(buffer, count);
    }
    return QString::fromUtf8(line.left(line.indexOf('\n'))).trimmed();
}

} // namespace

// The daemon is started with posix_spawn rather than QProcess: after QProcess has started a
// child, ThreadSanitizer no longer sees the main thread's locking and reports races in code that
// locks correctly (the background queue's, say).
PrivateSessionBus::PrivateSessionBus() {
    if (!m_dir.isValid())
        return;
    const QString configPath = m_dir.filePath(QStringLiteral("bus.conf"));
    QFile config(configPath);
    if (!config.open(QIODevice::WriteOnly))
        return;
    config.write(busConfig(m_dir.path()).toUtf8());
    config.close();

    int output[2];
    if (pipe2(output, O_CLOEXEC) != 0)
        return;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, output[1], STDOUT_FILENO);
    QByteArray configArgument = (QStringLiteral("--config-file=") + configPath).toLocal8Bit();
    char program[] = "dbus-daemon";
    char noFork[] = "--nofork";
    char printAddress[] = "--print-address=1";
    char* arguments[] = {program, configArgument.data(), noFork, printAddress, nullptr};
    const int spawned = posix_spawnp(&m_daemon, program, &actions, nullptr, arguments, environ);
    posix_spawn_file_actions_destroy(&actions);
    close(output[1]);
    m_daemonOutput = output[0];
    if (spawned != 0) {
        m_daemon = -1;
        return;
    }
    m_address = readLine(m_daemonOutput, kStartTimeoutMs);
}

PrivateSessionBus::~PrivateSessionBus() {
    for (const QString& name : m_connections)
        QDBusConnection::disconnectFromBus(name);
    if (m_daemon > 0) {
        kill(m_daemon, SIGTERM);
        waitpid(m_daemon, nullptr, 0);
    }
    if (m_daemonOutput >= 0)
        close(m_daemonOutput);
}

QDBusConnection PrivateSessionBus::connect(const QString& purpose) {
    // Qt keeps named connections per process: every one gets a name never used before.
    static std::atomic<int> serial{0};
    const QString name = QStringLiteral("koru-test-%1-%2").arg(purpose).arg(++serial);
    m_connections << name;
    return QDBusConnection::connectToBus(m_address, name);
}

} // namespace koru::test
