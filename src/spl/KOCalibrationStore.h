#pragma once

#include "spl/KOCalibrationDictionary.h"

#include <QObject>
#include <QString>

#include <memory>
#include <mutex>
#include <vector>

// The calibrations shared by every SPL meter, kept in "spl_calibration.bin" (a keyed archive
// whose root is the array of calibrations in list order). Headless, so the application can save
// it from its background queue without the calibration window ever having been opened.
//
// Loading: a missing file is an empty list; an unreadable one is renamed aside with
// ".unreadable" (and a log line) so that the next save cannot destroy what may still be
// recovered by hand. The older "spl_calibration.plist" is migrated once: its calibrations are
// appended, the new store is written, and only when that write succeeded is the old file
// removed. An unreadable older file is kept aside too.
//
// Saving writes a temporary file and renames it over the store; a failure is logged and
// answered, never left to look like success. Every mutation rewrites the whole store.
//
// Threads: any. mLock (recursive: a mutator saves while holding it) guards the list and every
// write of the file; it is a leaf lock.
class KOCalibrationStore : public QObject {
    Q_OBJECT
public:
    using Calibration = std::shared_ptr<const KOCalibrationDictionary>;

    static constexpr const char* kFileName = "spl_calibration.bin";
    static constexpr const char* kLegacyFileName = "spl_calibration.plist";
    static constexpr const char* kLegacyArrayKey = "calibration";

    // The program's store in the application-support folder, made on first use (any thread).
    static KOCalibrationStore& sharedStore();

    // Loads (and migrates) the store of `folder`.
    explicit KOCalibrationStore(const QString& folder);
    ~KOCalibrationStore() override;

    QString path() const;
    QString legacyPath() const;

    std::vector<Calibration> calibrations() const;
    qsizetype countOfCalibrations() const;
    Calibration objectInCalibrationsAtIndex(qsizetype index) const;

    // Each of these saves the store.
    void insertObjectInCalibrationsAtIndex(Calibration calibration, qsizetype index);
    // Indices out of range are ignored.
    void removeCalibrationsAtIndexes(std::vector<qsizetype> indexes);
    Calibration addCalibration(float value, const QString& deviceName, const QString& deviceUID,
                               const QString& notes);

    // False (with a log line) when the file could not be written.
    bool saveCalibrationRepo();

signals:
    // Emitted on the thread that changed the list.
    void calibrationsChanged();

private:
    void load();
    void doLegacyDictionaryMigration();

    QString mFolder;
    mutable std::recursive_mutex mLock; // leaf
    std::vector<Calibration> mCalibrations;
};
