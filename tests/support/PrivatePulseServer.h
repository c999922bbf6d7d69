#pragma once

// A PulseAudio server of a test's own, in a private runtime folder, with a null sink (the
// listing of the pulse back-end reads the default sink's name unchecked) and a 1 kHz sine
// source. While it runs, PULSE_SERVER points this process at it. Header-only: the test programs
// that use it link the platform library for pulseServerAnswers().

#include "platform/audio/AudioBackend.h"
#include "platform/audio/DeviceRegistry.h"
#include "support/TestSupport.h"

#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <cstdint>

namespace koru::test {

class PrivatePulseServer {
public:
    ~PrivatePulseServer() {
        kill();
        if (m_previousServer.isNull())
            qunsetenv("PULSE_SERVER");
        else
            qputenv("PULSE_SERVER", m_previousServer);
    }

    static bool installed() { return !program().isEmpty(); }

    // Empty when the server answers; otherwise why not.
    QString start() {
        if (!m_runtime.isValid())
            return QStringLiteral("no runtime folder");
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), m_runtime.path());
        environment.insert(QStringLiteral("HOME"), m_runtime.path());
        environment.remove(QStringLiteral("PULSE_SERVER"));
        m_server.setProcessEnvironment(environment);
        m_server.setProcessChannelMode(QProcess::MergedChannels);
        m_server.start(program(), {"-n", "--daemonize=no", "--exit-idle-time=-1", "-L",
                                   "module-native-protocol-unix", "-L", "module-null-sink", "-L",
                                   "module-sine-source rate=48000 frequency=1000"});
        if (!m_server.waitForStarted(5000))
            return QStringLiteral("pulseaudio did not start");
        m_previousServer = qgetenv("PULSE_SERVER");
        qputenv("PULSE_SERVER", ("unix:" + m_runtime.path() + "/pulse/native").toUtf8());
        spinUntil(
            [&] { return platform::pulseServerAnswers() || m_server.state() != QProcess::Running; },
            10000);
        if (m_server.state() != QProcess::Running)
            return QStringLiteral("pulseaudio ended: ") + QString::fromUtf8(m_server.readAll());
        return {};
    }

    // No goodbye to its clients, as a crash would be.
    void kill() {
        if (m_server.state() == QProcess::NotRunning)
            return;
        m_server.kill();
        m_server.waitForFinished(5000);
    }

    // The sine source, once `registry` lists it; 0 when it never does.
    static std::uint32_t sineSource(platform::DeviceRegistry& registry) {
        std::uint32_t found = 0;
        spinUntil(
            [&] {
                registry.refresh();
                for (const auto& info : registry.devices())
                    if (!info.isVirtual() && info.hasInputs() && info.uid.startsWith("pulse:") &&
                        info.name.contains(QStringLiteral("Sine"), Qt::CaseInsensitive))
                        found = info.id;
                return found != 0;
            },
            10000);
        return found;
    }

private:
    static QString program() {
        return QStandardPaths::findExecutable(QStringLiteral("pulseaudio"));
    }

    QTemporaryDir m_runtime;
    QProcess m_server;
    QByteArray m_previousServer;
};

} // namespace koru::test
