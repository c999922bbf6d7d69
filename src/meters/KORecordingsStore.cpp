#include "meters/KORecordingsStore.h"

#include "platform/files/KeepAside.h"
#include "platform/log/Log.h"
#include "platform/paths/Paths.h"
#include "platform/plist/PropertyList.h"

#include <QDir>
#include <QFileInfo>
#include <QVariantList>

using koru::platform::PlistFormat;
using koru::platform::PropertyList;

namespace {

const QString& pathKey() {
    static const QString key = QString::fromLatin1(KORecordingsStore::kPathKey);
    return key;
}

} // namespace

QString KORecordingsStore::defaultPath() {
    return QDir(koru::platform::applicationSupportDirectory())
        .filePath(QString::fromLatin1(kFileName));
}

KORecordingsStore::KORecordingsStore(const QString& path) : mPath(path) {
    load();
}

void KORecordingsStore::reload() {
    mEntries.clear();
    load();
}

void KORecordingsStore::load() {
    mLastError.clear();
    if (!QFileInfo::exists(mPath))
        return;
    const auto read = PropertyList::read(mPath);
    QString why = read.error;
    const QVariant list = read.value.toMap().value(QString::fromLatin1(kRecordingsKey));
    if (read.ok() &&
        (read.value.typeId() != QMetaType::QVariantMap || list.typeId() != QMetaType::QVariantList))
        why = QStringLiteral("it holds no \"recordings\" list");
    if (!why.isEmpty()) {
        // Kept aside, so the next save cannot overwrite what the user may still want back.
        const QString aside = koru::platform::keepUnreadableAsideText(mPath);
        mLastError = QStringLiteral("The list of recordings %1 could not be read (%2); %3.")
                         .arg(mPath, why, aside);
        koru::log::warn("{}", mLastError.toStdString());
        return;
    }
    int skipped = 0;
    for (const QVariant& element : list.toList()) {
        const QVariantMap entry = element.toMap();
        const QVariant path = entry.value(pathKey());
        if (element.typeId() != QMetaType::QVariantMap || path.typeId() != QMetaType::QString ||
            path.toString().isEmpty()) {
            ++skipped;
            continue;
        }
        if (indexOfPath(path.toString()) >= 0)
            continue; // listed twice: the first one stays
        mEntries.push_back(entry);
    }
    if (skipped > 0)
        koru::log::warn("{} entries of the list of recordings {} name no file and were skipped",
                        skipped, mPath.toStdString());
}

QVariantMap KORecordingsStore::entry(int index) const {
    if (index < 0 || index >= count())
        return {};
    return mEntries[std::size_t(index)];
}

QString KORecordingsStore::pathAt(int index) const {
    return entry(index).value(pathKey()).toString();
}

bool KORecordingsStore::fileExistsAt(int index) const {
    const QString path = pathAt(index);
    return !path.isEmpty() && QFileInfo(path).isFile();
}

int KORecordingsStore::numberOfRecordings() const {
    int existing = 0;
    for (int i = 0; i < count(); ++i)
        if (fileExistsAt(i))
            ++existing;
    return existing;
}

int KORecordingsStore::indexOfPath(const QString& path) const {
    for (int i = 0; i < count(); ++i)
        if (mEntries[std::size_t(i)].value(pathKey()).toString() == path)
            return i;
    return -1;
}

bool KORecordingsStore::addRecording(const QString& path) {
    if (path.isEmpty())
        return false;
    const QString absolute = QFileInfo(path).absoluteFilePath();
    if (indexOfPath(absolute) < 0)
        mEntries.push_back(QVariantMap{{pathKey(), absolute}});
    return save();
}

bool KORecordingsStore::removeAt(int index) {
    if (index < 0 || index >= count())
        return false;
    mEntries.erase(mEntries.begin() + index);
    return save();
}

bool KORecordingsStore::save() {
    QVariantList list;
    for (const QVariantMap& entry : mEntries)
        list.append(entry);
    const QVariantMap root{{QString::fromLatin1(kRecordingsKey), list}};
    QString error;
    if (!PropertyList::write(mPath, root, PlistFormat::Xml, &error)) {
        mLastError =
            QStringLiteral("The list of recordings %1 could not be saved: %2.").arg(mPath, error);
        koru::log::warn("{}", mLastError.toStdString());
        return false;
    }
    mLastError.clear();
    return true;
}
