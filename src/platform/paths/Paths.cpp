#include "platform/paths/Paths.h"

#include <QDir>
#include <QFile>

#include <cerrno>
#include <cstdlib>
#include <mutex>

#include <sys/stat.h>
#include <unistd.h>

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

// A real folder (not a link) owned by this user that nobody else may enter.
bool isPrivateFolder(const QByteArray& path) {
    struct stat info {};
    if (::lstat(path.constData(), &info) != 0)
        return false;
    return S_ISDIR(info.st_mode) && info.st_uid == ::getuid() && (info.st_mode & 077) == 0;
}

QString privateFolderIn(const QString& parent) {
    const QByteArray folder = QFile::encodeName(QDir::cleanPath(parent + "/KORU"));
    if (::mkdir(folder.constData(), 0700) != 0 && errno != EEXIST)
        return {};
    return isPrivateFolder(folder) ? QFile::decodeName(folder) : QString();
}

} // namespace

QString privateTemporaryDirectory() {
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (!runtime.isEmpty() && QDir::isAbsolutePath(runtime) &&
        isPrivateFolder(QFile::encodeName(runtime))) {
        const QString folder = privateFolderIn(runtime);
        if (!folder.isEmpty())
            return folder;
    }
    // mkdtemp makes a fresh folder with mode 0700 under a name nobody could have taken first.
    static std::mutex lock;
    static QString fallback;
    std::lock_guard guard(lock);
    if (fallback.isEmpty() || !isPrivateFolder(QFile::encodeName(fallback))) {
        QByteArray pattern = QFile::encodeName(QDir::tempPath() + "/KORU-XXXXXX");
        fallback = ::mkdtemp(pattern.data()) ? QFile::decodeName(pattern) : QString();
    }
    return fallback;
}

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
