#include "utility/VEFileManager.h"

#include "utility/VEString.h"

#include "platform/fourcc/FourCC.h"
#include "platform/log/Log.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

namespace {

struct SplitPath {
    QString base; // everything up to the extension's full stop
    QString extension;
};

SplitPath splitExtension(const QString& path) {
    const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
    const qsizetype dot = path.lastIndexOf(QLatin1Char('.'));
    // A leading full stop marks a hidden name, not an extension.
    if (dot <= slash + 1)
        return {path, {}};
    return {path.left(dot), path.mid(dot + 1)};
}

bool exists(const QString& path) {
    return QFileInfo(path).exists() || QFileInfo(path).isSymLink();
}

QString candidate(const SplitPath& split, quint64 n) {
    QString name = split.base + QLatin1Char('-') + QString::number(n);
    if (!split.extension.isEmpty())
        name += QLatin1Char('.') + split.extension;
    return name;
}

} // namespace

std::optional<QString> VEFileManager::findSystemFolderType(std::uint32_t folderType,
                                                           std::int16_t domain) {
    using koru::platform::fourCC;
    if (domain != kUserDomain)
        return std::nullopt;
    QString path;
    switch (folderType) {
    case fourCC("asup"):
        return machineAppSupportDirectory();
    case fourCC("temp"):
        return tempDirectory();
    case fourCC("cach"):
        path = QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation);
        break;
    case fourCC("docs"):
        path = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
        break;
    case fourCC("pdoc"):
        path = QStandardPaths::writableLocation(QStandardPaths::PicturesLocation);
        break;
    default:
        return std::nullopt;
    }
    if (path.isEmpty())
        return std::nullopt;
    return path;
}

std::optional<QString>
VEFileManager::firstURLInSearchPathDirectory(QStandardPaths::StandardLocation location) {
    const QString path = QStandardPaths::writableLocation(location);
    if (path.isEmpty())
        return std::nullopt;
    if (!QFileInfo(path).isDir() && !QDir().mkpath(path)) {
        koru::log::error("failed to create folder {}", path.toStdString());
        return std::nullopt;
    }
    return path;
}

QString VEFileManager::machineAppSupportDirectory() {
    const QString xdg = qEnvironmentVariable("XDG_DATA_HOME");
    if (!xdg.isEmpty() && QDir::isAbsolutePath(xdg))
        return QDir::cleanPath(xdg);
    return QDir::homePath() + QStringLiteral("/.local/share");
}

bool VEFileManager::createFolder(const QString& path) {
    if (QFileInfo(path).isDir())
        return true;
    if (QDir().mkpath(path))
        return true;
    koru::log::error("failed to create application support directory {}", path.toStdString());
    return false;
}

QString VEFileManager::mySupportDirectory() {
    const QString path =
        machineAppSupportDirectory() + QLatin1Char('/') + VEString::stringWithBundleName();
    createFolder(path);
    return path;
}

QString VEFileManager::pathToFileInSupportDirectory(const QString& name) {
    return mySupportDirectory() + QLatin1Char('/') + name;
}

std::optional<QString>
VEFileManager::urlInApplicationSupportDirectoyByAppendingPathComponent(const QString& component,
                                                                       bool create) {
    const QString folder =
        machineAppSupportDirectory() + QLatin1Char('/') + VEString::stringWithBundleName();
    if (create && !createFolder(folder))
        return std::nullopt;
    return folder + QLatin1Char('/') + component;
}

std::optional<QString> VEFileManager::myAppSupportDirectoryBundleIdentifier() {
    const QString folder =
        machineAppSupportDirectory() + QLatin1Char('/') + VEString::stringWithBundleIdentifier();
    if (!createFolder(folder))
        return std::nullopt;
    return folder;
}

QString VEFileManager::cachesDirectory() {
    const QString path = QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation);
    QDir().mkpath(path);
    return path;
}

QString VEFileManager::urlForCacheFile(const QString& name) {
    return cachesDirectory() + QLatin1Char('/') + name;
}

QString VEFileManager::tempDirectory() {
    return QDir::tempPath();
}

QString VEFileManager::urlForTempFile(const QString& name) {
    return tempDirectory() + QLatin1Char('/') + name;
}

QString VEFileManager::picturesURL() {
    return QStandardPaths::writableLocation(QStandardPaths::PicturesLocation);
}

QString VEFileManager::documentsURL() {
    return QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
}

std::optional<QString> VEFileManager::uniqueFilenameFromName(const QString& path) {
    if (!exists(path))
        return path;
    const SplitPath split = splitExtension(path);
    for (quint64 n = 1; n <= 999; ++n) {
        const QString name = candidate(split, n);
        if (!exists(name))
            return name;
    }
    return std::nullopt;
}

QString VEFileManager::makeUniqueFilenameForPath(const QString& path) {
    if (!exists(path))
        return path;
    const SplitPath split = splitExtension(path);
    for (quint64 n = 1;; ++n) {
        const QString name = candidate(split, n);
        if (!exists(name))
            return name;
    }
}

bool VEFileManager::isDirectotyAtURL(const QString& path) {
    return QFileInfo(path).isDir();
}

bool VEFileManager::isEmptySubfolderAtURL(const QString& path) {
    if (!isDirectotyAtURL(path))
        return false;
    const QDir dir(path);
    if (!dir.isReadable())
        return false;
    return dir.entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot)
        .isEmpty();
}

void VEFileManager::removeIfEmptySubfolder(const QString& path) {
    if (isEmptySubfolderAtURL(path))
        QDir().rmdir(path);
}

void VEFileManager::ensureExistenceOfSubfoldersToURL(const QString& path) {
    if (!exists(path))
        QDir().mkpath(path);
}

void VEFileManager::enumerateContentsAtURL(const QString& folder, bool recursive,
                                           const ItemBlock& block) {
    const QFileInfoList entries = QDir(folder).entryInfoList(
        QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
    for (const QFileInfo& entry : entries) {
        if (entry.fileName().startsWith(QLatin1Char('.')))
            continue;
        const bool folderEntry = entry.isDir() && !entry.isSymLink();
        if (folderEntry) {
            if (recursive)
                enumerateContentsAtURL(entry.filePath(), true, block);
            continue;
        }
        if (entry.isDir())
            continue; // a link to a folder: neither walked nor reported as an item
        bool stop = false;
        block(entry.filePath(), stop);
        if (stop)
            return;
    }
}
