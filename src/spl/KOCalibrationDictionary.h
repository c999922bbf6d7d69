#pragma once

#include "platform/archive/KeyedArchive.h"

#include <QDateTime>
#include <QString>
#include <QVariantMap>

#include <memory>

// One stored calibration: the offset in dB that turns an SPL meter's level into sound-pressure
// level on one audio device, with who it belongs to and when it was made. Immutable once built,
// so the store can hand the same object to any thread.
class KOCalibrationDictionary : public koru::platform::Archivable {
public:
    static constexpr const char* kClassName = "KOCalibrationDictionary";
    static constexpr const char* kValueKey = "SPL.CalibrationDictionary.CalibrationValue";
    static constexpr const char* kDeviceNameKey = "SPL.CalibrationDictionary.AudioDeviceName";
    static constexpr const char* kNotesKey = "SPL.CalibrationDictionary.Notes";
    static constexpr const char* kTimestampKey = "SPL.CalibrationDictionary.Timestamp";
    static constexpr const char* kIdentifierKey = "SPL.CalibrationDictionary.ID";
    static constexpr const char* kMenuNameKey = "SPL.CalibrationDictionary.MenuName";
    static constexpr const char* kDeviceUUIDKey = "SPL.CalibrationDictionary.AudioDeviceUUID";

    // Offsets a meter accepts. 0 means "uncalibrated"; above 200 dB no microphone and converter
    // could have produced it, so such a value is damage, not a measurement.
    static constexpr float kMinimumValue = 0.0f;
    static constexpr float kMaximumValue = 200.0f;
    static bool isAcceptableValue(double value);

    // Now, with a new identifier.
    KOCalibrationDictionary();

    static std::shared_ptr<KOCalibrationDictionary>
    dictionaryWithCalibrationValue(float value, const QString& deviceName,
                                   const QString& deviceUUID, const QString& notes);
    // From an archive; null (with the reason in *why) when the value is missing, not a number or
    // outside the accepted range. Wrongly typed texts and dates fall back to empty / now.
    static std::shared_ptr<KOCalibrationDictionary>
    fromCoder(koru::platform::KeyedUnarchiver& coder, QString* why = nullptr);
    // From an element of the older property-list store; the same rules.
    static std::shared_ptr<KOCalibrationDictionary> fromDictionary(const QVariant& element,
                                                                   QString* why = nullptr);

    // Makes archives of this class readable; called by the store.
    static void registerArchiveClass();

    QString archiveClassName() const override { return QString::fromLatin1(kClassName); }
    // Writes menuName(), so a computed name is stored and stays as it was from then on.
    void encodeWithCoder(koru::platform::KeyedArchiver& coder) const override;

    // The stored menu name, or "<device> - <short date> <short time>" when none was stored.
    QString menuName() const;
    bool hasStoredMenuName() const { return !mMenuName.isEmpty(); }
    float calibrationValue() const { return mCalibrationValue; }
    const QString& identifier() const { return mIdentifier; }
    const QString& audioDeviceName() const { return mAudioDeviceName; }
    const QString& deviceUUID() const { return mDeviceUUID; }
    const QDateTime& timestamp() const { return mTimestamp; }
    const QString& notes() const { return mNotes; }

    void setMenuName(const QString& name) { mMenuName = name; }

private:
    QString mMenuName;
    float mCalibrationValue = 0.0f;
    QString mIdentifier;
    QString mAudioDeviceName;
    QString mDeviceUUID;
    QDateTime mTimestamp;
    QString mNotes;
};
