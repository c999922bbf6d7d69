#include "spl/KOCalibrationStore.h"

#include "platform/archive/KeyedArchive.h"
#include "platform/files/AtomicFileWriter.h"
#include "platform/files/KeepAside.h"
#include "platform/log/Log.h"
#include "platform/paths/Paths.h"
#include "platform/plist/PropertyList.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>

using koru::platform::KeyedArchiver;
using koru::platform::KeyedUnarchiver;
using koru::platform::PlistFormat;
using koru::platform::PropertyList;

namespace {

std::string utf8(const QString& text) {
    return text.toStdString();
}

} // namespace

KOCalibrationStore& KOCalibrationStore::sharedStore() {
    static auto* store = new KOCalibrationStore(koru::platform::applicationSupportDirectory());
    return *store;
}

KOCalibrationStore::KOCalibrationStore(const QString& folder) : mFolder(folder) {
    KOCalibrationDictionary::registerArchiveClass();
    const std::lock_guard lock(mLock);
    load();
    doLegacyDictionaryMigration();
}

KOCalibrationStore::~KOCalibrationStore() = default;

QString KOCalibrationStore::path() const {
    return QDir(mFolder).filePath(QString::fromLatin1(kFileName));
}

QString KOCalibrationStore::legacyPath() const {
    return QDir(mFolder).filePath(QString::fromLatin1(kLegacyFileName));
}

void KOCalibrationStore::load() {
    const QString file = path();
    if (!QFileInfo::exists(file))
        return;
    const auto read = PropertyList::read(file);
    QString why = read.error;
    if (read.ok() && read.value.typeId() != QMetaType::QVariantList)
        why = QStringLiteral("its root is not an array");
    if (!why.isEmpty()) {
        const QString aside = koru::platform::keepUnreadableAsideText(file);
        koru::log::warn("the calibration store {} is unreadable ({}); {}", utf8(file), utf8(why),
                        utf8(aside));
        return;
    }
    for (const QVariant& element : read.value.toList()) {
        QString reason;
        std::unique_ptr<koru::platform::Archivable> object;
        if (element.typeId() == QMetaType::QVariantMap)
            object = KeyedUnarchiver::decodeFromDictionary(element.toMap(), &reason);
        else
            reason = QStringLiteral("not an archived object");
        auto* calibration = dynamic_cast<KOCalibrationDictionary*>(object.get());
        if (!calibration) {
            koru::log::warn("a stored calibration was skipped: {}",
                            utf8(reason.isEmpty() ? QStringLiteral("unexpected class") : reason));
            continue;
        }
        object.release();
        mCalibrations.emplace_back(calibration);
    }
}

void KOCalibrationStore::doLegacyDictionaryMigration() {
    const std::lock_guard lock(mLock);
    const QString legacy = legacyPath();
    if (!QFileInfo::exists(legacy))
        return;
    const auto read = PropertyList::read(legacy);
    QString why = read.error;
    const QVariantMap root = read.value.toMap();
    if (read.ok() &&
        (read.value.typeId() != QMetaType::QVariantMap ||
         root.value(QString::fromLatin1(kLegacyArrayKey)).typeId() != QMetaType::QVariantList))
        why = QStringLiteral("it holds no \"calibration\" array");
    if (!why.isEmpty()) {
        const QString aside = koru::platform::keepUnreadableAsideText(legacy);
        koru::log::warn("the older calibration store {} is unreadable ({}); {}", utf8(legacy),
                        utf8(why), utf8(aside));
        return;
    }
    const std::size_t before = mCalibrations.size();
    for (const QVariant& element : root.value(QString::fromLatin1(kLegacyArrayKey)).toList()) {
        QString reason;
        if (auto calibration = KOCalibrationDictionary::fromDictionary(element, &reason))
            mCalibrations.push_back(std::move(calibration));
        else
            koru::log::warn("an older calibration was skipped: {}", utf8(reason));
    }
    // The old file goes only once its content is safely in the new store.
    if (!saveCalibrationRepo()) {
        mCalibrations.resize(before);
        koru::log::warn("the older calibration store {} was kept: the new store could not be "
                        "written",
                        utf8(legacy));
        return;
    }
    if (!QFile::remove(legacy))
        koru::log::warn("the older calibration store {} could not be removed", utf8(legacy));
    else
        koru::log::info("migrated {} calibrations from {}", mCalibrations.size() - before,
                        utf8(legacy));
}

std::vector<KOCalibrationStore::Calibration> KOCalibrationStore::calibrations() const {
    const std::lock_guard lock(mLock);
    return mCalibrations;
}

qsizetype KOCalibrationStore::countOfCalibrations() const {
    const std::lock_guard lock(mLock);
    return qsizetype(mCalibrations.size());
}

KOCalibrationStore::Calibration
KOCalibrationStore::objectInCalibrationsAtIndex(qsizetype index) const {
    const std::lock_guard lock(mLock);
    if (index < 0 || index >= qsizetype(mCalibrations.size()))
        return nullptr;
    return mCalibrations[std::size_t(index)];
}

void KOCalibrationStore::insertObjectInCalibrationsAtIndex(Calibration calibration,
                                                           qsizetype index) {
    if (!calibration)
        return;
    {
        const std::lock_guard lock(mLock);
        index = std::clamp<qsizetype>(index, 0, qsizetype(mCalibrations.size()));
        mCalibrations.insert(mCalibrations.begin() + index, std::move(calibration));
        saveCalibrationRepo();
    }
    emit calibrationsChanged();
}

void KOCalibrationStore::removeCalibrationsAtIndexes(std::vector<qsizetype> indexes) {
    std::sort(indexes.begin(), indexes.end(), std::greater<>());
    indexes.erase(std::unique(indexes.begin(), indexes.end()), indexes.end());
    {
        const std::lock_guard lock(mLock);
        for (qsizetype index : indexes) {
            if (index >= 0 && index < qsizetype(mCalibrations.size()))
                mCalibrations.erase(mCalibrations.begin() + index);
        }
        saveCalibrationRepo();
    }
    emit calibrationsChanged();
}

KOCalibrationStore::Calibration KOCalibrationStore::addCalibration(float value,
                                                                   const QString& deviceName,
                                                                   const QString& deviceUID,
                                                                   const QString& notes) {
    Calibration made = KOCalibrationDictionary::dictionaryWithCalibrationValue(value, deviceName,
                                                                               deviceUID, notes);
    insertObjectInCalibrationsAtIndex(made, countOfCalibrations());
    return made;
}

bool KOCalibrationStore::saveCalibrationRepo() {
    const std::lock_guard lock(mLock);
    QVariantList root;
    for (const Calibration& calibration : mCalibrations)
        root.append(KeyedArchiver::encodeToDictionary(*calibration));
    QString error;
    const QByteArray bytes = PropertyList::serialize(root, PlistFormat::Binary, &error);
    if (bytes.isEmpty() || !koru::platform::writeFileAtomically(path(), bytes, &error)) {
        koru::log::error("the calibration store {} could not be saved: {}", utf8(path()),
                         utf8(error));
        return false;
    }
    return true;
}
