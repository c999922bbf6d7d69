#include "platform/paths/Paths.h"

#include <QDir>

namespace koru::platform {

namespace {

// The base-directory rules ignore unset, empty and relative values alike.
QString xdgBase(const char* variable, const QString& homeRelativeDefault) {
    const QString value = qEnvironmentVariable(variable);
    if (!value.isEmpty() && QDir::isAbsolutePath(value))
        return value;
    return QDir::homePath() + QLatin1Char('/') + homeRelativeDefault;
}

QString koruFolder(const char* variable, const QString& homeRelativeDefault) {
    const QString folder = QDir::cleanPath(xdgBase(variable, homeRelativeDefault) + "/KORU");
    QDir().mkpath(folder);
    return folder;
}

} // namespace

QString applicationSupportDirectory() {
    return koruFolder("XDG_DATA_HOME", QStringLiteral(".local/share"));
}

QString configDirectory() {
    return koruFolder("XDG_CONFIG_HOME", QStringLiteral(".config"));
}

QString stateDirectory() {
    return koruFolder("XDG_STATE_HOME", QStringLiteral(".local/state"));
}

quint32 fnv1a32(const QString& text) {
    quint32 hash = 2166136261u;
    for (const char byte : text.toUtf8()) {
        hash ^= static_cast<unsigned char>(byte);
        hash *= 16777619u;
    }
    return hash;
}

} // namespace koru::platform
