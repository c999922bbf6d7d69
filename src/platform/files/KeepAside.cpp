#include "platform/files/KeepAside.h"

#include <QFile>
#include <QFileInfo>

namespace koru::platform {

QString keepUnreadableAside(const QString& path) {
    QString aside = path + QStringLiteral(".unreadable");
    for (int n = 2; QFileInfo::exists(aside); ++n)
        aside = path + QStringLiteral(".unreadable.%1").arg(n);
    return QFile::rename(path, aside) ? aside : QString();
}

QString keepUnreadableAsideText(const QString& path) {
    const QString aside = keepUnreadableAside(path);
    return aside.isEmpty() ? QStringLiteral("it could not be moved aside")
                           : QStringLiteral("kept as %1").arg(aside);
}

} // namespace koru::platform
