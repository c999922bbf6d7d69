#include "spl/KOCalibrationDictionary.h"

#include "utility/VEString.h"

#include <QLocale>

#include <cmath>
#include <functional>

using koru::platform::KeyedArchiver;
using koru::platform::KeyedUnarchiver;

namespace {

QString key(const char* name) {
    return QString::fromLatin1(name);
}

void fail(QString* why, const QString& text) {
    if (why)
        *why = text;
}

// A value of the expected type, else the fallback; a damaged text never stops the rest.
QString textOf(const QVariant& value) {
    return value.typeId() == QMetaType::QString ? value.toString() : QString();
}

bool isNumber(const QVariant& value) {
    switch (value.typeId()) {
    case QMetaType::Double:
    case QMetaType::Float:
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
        return true;
    default:
        return false;
    }
}

} // namespace

bool KOCalibrationDictionary::isAcceptableValue(double value) {
    return std::isfinite(value) && value >= kMinimumValue && value <= kMaximumValue;
}

KOCalibrationDictionary::KOCalibrationDictionary()
    : mIdentifier(VEString::uuidString()), mTimestamp(QDateTime::currentDateTime()) {}

std::shared_ptr<KOCalibrationDictionary> KOCalibrationDictionary::dictionaryWithCalibrationValue(
    float value, const QString& deviceName, const QString& deviceUUID, const QString& notes) {
    auto calibration = std::make_shared<KOCalibrationDictionary>();
    calibration->mCalibrationValue = value;
    calibration->mAudioDeviceName = deviceName;
    calibration->mDeviceUUID = deviceUUID;
    calibration->mNotes = notes;
    return calibration;
}

namespace {

// Both forms carry the same keys; only where the values come from differs.
std::shared_ptr<KOCalibrationDictionary>
build(const std::function<QVariant(const char*)>& valueFor, QString* why,
      const std::function<std::shared_ptr<KOCalibrationDictionary>(
          float, const QString&, const QString&, const QString&, const QDateTime&, const QString&,
          const QString&)>& make) {
    const QVariant value = valueFor(KOCalibrationDictionary::kValueKey);
    if (!isNumber(value)) {
        fail(why, QStringLiteral("a calibration without a numeric value"));
        return nullptr;
    }
    const double offset = value.toDouble();
    if (!KOCalibrationDictionary::isAcceptableValue(offset)) {
        fail(why, QStringLiteral("a calibration value of %1 dB is outside %2..%3 dB")
                      .arg(offset)
                      .arg(double(KOCalibrationDictionary::kMinimumValue))
                      .arg(double(KOCalibrationDictionary::kMaximumValue)));
        return nullptr;
    }
    const QVariant timestamp = valueFor(KOCalibrationDictionary::kTimestampKey);
    return make(float(offset), textOf(valueFor(KOCalibrationDictionary::kDeviceNameKey)),
                textOf(valueFor(KOCalibrationDictionary::kDeviceUUIDKey)),
                textOf(valueFor(KOCalibrationDictionary::kNotesKey)),
                timestamp.typeId() == QMetaType::QDateTime ? timestamp.toDateTime() : QDateTime(),
                textOf(valueFor(KOCalibrationDictionary::kIdentifierKey)),
                textOf(valueFor(KOCalibrationDictionary::kMenuNameKey)));
}

} // namespace

std::shared_ptr<KOCalibrationDictionary> KOCalibrationDictionary::fromCoder(KeyedUnarchiver& coder,
                                                                            QString* why) {
    return build([&coder](const char* name) { return coder.decodeValue(key(name)); }, why,
                 [](float value, const QString& device, const QString& uuid, const QString& notes,
                    const QDateTime& timestamp, const QString& identifier, const QString& menu) {
                     auto made = dictionaryWithCalibrationValue(value, device, uuid, notes);
                     if (timestamp.isValid())
                         made->mTimestamp = timestamp;
                     if (!identifier.isEmpty())
                         made->mIdentifier = identifier;
                     made->mMenuName = menu;
                     return made;
                 });
}

std::shared_ptr<KOCalibrationDictionary>
KOCalibrationDictionary::fromDictionary(const QVariant& element, QString* why) {
    if (element.typeId() != QMetaType::QVariantMap) {
        fail(why, QStringLiteral("a calibration that is not a dictionary"));
        return nullptr;
    }
    const QVariantMap dictionary = element.toMap();
    KeyedUnarchiver coder(dictionary);
    return fromCoder(coder, why);
}

void KOCalibrationDictionary::registerArchiveClass() {
    KeyedUnarchiver::registerClass(key(kClassName),
                                   [](KeyedUnarchiver& coder) -> std::unique_ptr<Archivable> {
                                       QString why;
                                       auto made = fromCoder(coder, &why);
                                       if (!made) {
                                           coder.failWith(why);
                                           return nullptr;
                                       }
                                       return std::make_unique<KOCalibrationDictionary>(*made);
                                   });
}

void KOCalibrationDictionary::encodeWithCoder(KeyedArchiver& coder) const {
    coder.encodeDouble(key(kValueKey), double(mCalibrationValue));
    coder.encodeString(key(kDeviceNameKey), mAudioDeviceName);
    coder.encodeString(key(kNotesKey), mNotes);
    coder.encodeValue(key(kTimestampKey), mTimestamp);
    coder.encodeString(key(kIdentifierKey), mIdentifier);
    coder.encodeString(key(kMenuNameKey), menuName());
    coder.encodeString(key(kDeviceUUIDKey), mDeviceUUID);
}

QString KOCalibrationDictionary::menuName() const {
    if (!mMenuName.isEmpty())
        return mMenuName;
    const QLocale locale;
    return QStringLiteral("%1 - %2 %3")
        .arg(mAudioDeviceName, locale.toString(mTimestamp.date(), QLocale::ShortFormat),
             locale.toString(mTimestamp.time(), QLocale::ShortFormat));
}
