#include "app/UserGuide.h"

#include "platform/log/Log.h"
#include "platform/paths/Paths.h"

#include <QDir>
#include <QFile>
#include <QTemporaryFile>

#include <cstdio>

#include <unistd.h>

namespace koru {

std::optional<QString> UserGuide::copyToPrivateFolder(const QString& folder,
                                                      const QString& resource) {
    const QString target = folder.isEmpty() ? platform::privateTemporaryDirectory() : folder;
    if (target.isEmpty()) {
        log::error("the user guide cannot be shown: no private folder for its copy");
        return std::nullopt;
    }
    QFile source(resource);
    if (!source.open(QIODevice::ReadOnly)) {
        log::error("the user guide {} cannot be read", resource.toStdString());
        return std::nullopt;
    }
    const QByteArray content = source.readAll();

    QTemporaryFile copy(QDir(target).filePath(QStringLiteral("guide-XXXXXX.pdf")));
    if (!copy.open() || copy.write(content) != content.size() || !copy.flush() ||
        ::fsync(copy.handle()) != 0) {
        log::error("the user guide could not be copied to {}", target.toStdString());
        return std::nullopt;
    }
    // A rename replaces the name itself, so a link left under it is never followed.
    const QString path = QDir(target).filePath(QString::fromLatin1(kFileName));
    if (std::rename(QFile::encodeName(copy.fileName()).constData(),
                    QFile::encodeName(path).constData()) != 0) {
        log::error("the user guide could not be put at {}", path.toStdString());
        return std::nullopt;
    }
    copy.setAutoRemove(false);
    return path;
}

} // namespace koru
