#include "platform/audio/ConfigurationProgram.h"

#include "platform/log/Log.h"

#include <QProcess>
#include <QStandardPaths>

namespace koru::platform {

QString configurationProgramName(AudioBackend backend) {
    switch (backend) {
    case AudioBackend::Pulse:
        return QStringLiteral("pavucontrol");
    case AudioBackend::Jack:
        return QStringLiteral("qjackctl");
    case AudioBackend::Alsa:
    case AudioBackend::Virtual:
        break;
    }
    return {};
}

QString configurationProgramPath(AudioBackend backend) {
    const QString name = configurationProgramName(backend);
    return name.isEmpty() ? QString() : QStandardPaths::findExecutable(name);
}

bool launchConfigurationProgram(AudioBackend backend) {
    const QString path = configurationProgramPath(backend);
    if (path.isEmpty())
        return false;
    if (!QProcess::startDetached(path, {})) {
        log::warn("the sound server's mixer {} did not start", path.toStdString());
        return false;
    }
    return true;
}

} // namespace koru::platform
