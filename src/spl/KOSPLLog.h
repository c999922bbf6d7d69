#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <QVariantMap>

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

// One second of an SPL meter's log: the time it was written and the maxima of the current
// level, AVG and LEQ over that second.
struct KOSPLRecord {
    double time = 0.0; // seconds since 2001-01-01 UTC
    float spl = 0.0f;
    float avg = 0.0f;
    float leq = 0.0f;
};

// The levels an SPL meter records while logging, one record a second, with the log's name and
// the weighting and speed it was recorded with.
//
// Threads: the meter appends on main; the history view and exports read from main or a
// background queue. mMutex (a leaf lock) guards every member; every accessor takes it, since an
// append may move the records.
class KOSPLLog {
public:
    // One log's entry in the log store.
    static constexpr const char* kNameKey = "SplLog.name";
    static constexpr const char* kStartDateKey = "SplLog.startDate";
    static constexpr const char* kDataKey = "SplLog.splData";
    static constexpr const char* kSpeedKey = "SplLog.Speed";
    static constexpr const char* kWeightKey = "SplLog.Weight";
    // A stored record: float32 SPL, AVG, LEQ at 0, 4, 8; four zero bytes; float64 time at 16;
    // little-endian.
    static constexpr int kRecordSize = 24;

    KOSPLLog();

    // A log from its store entry, or null (with *reason) when the speed or weighting code is
    // missing or not one a meter records with. Data that ends in a part record keeps every
    // whole record before it; *warning then says what was dropped.
    static std::shared_ptr<KOSPLLog> fromDictionary(const QVariantMap& entry, QString* reason,
                                                    QString* warning = nullptr);
    // The store entry; a log without records has no start date.
    QVariantMap dictionaryRepresentation() const;
    // Every record in the stored layout.
    QByteArray splData() const;
    static QByteArray encodeRecords(const std::vector<KOSPLRecord>& records);
    // Whole records of `bytes`; a trailing part record is ignored.
    static std::vector<KOSPLRecord> decodeRecords(const QByteArray& bytes);

    static bool isValidSpeed(std::uint32_t speed);
    static bool isValidWeight(std::uint32_t weighting);

    void addSPL(float spl, float avg, float leq, const QDateTime& time = QDateTime());
    std::uint64_t length() const;
    // The time of the first record; invalid while the log is empty.
    QDateTime startDate() const;
    KOSPLRecord recordAtIndex(std::uint64_t index) const;
    // `length` records from `start`, clamped to the log: one copy under the lock.
    std::vector<KOSPLRecord> copyRecords(std::uint64_t start, std::uint64_t length) const;

    QString name() const;
    void setName(const QString& name);
    std::uint32_t weight() const;
    // The setters take only the codes a meter records with ('a_wt', 'b_wt', 'c_wt'; 'slow',
    // 'fast'); any other leaves the field as it was and answers false.
    bool setWeight(std::uint32_t weighting);
    std::uint32_t speed() const;
    bool setSpeed(std::uint32_t speed);

    // The part of the log an export covers: (start, length), clamped to the records.
    void setSelectionRange(std::uint64_t start, std::uint64_t length);
    std::pair<std::uint64_t, std::uint64_t> selectionRange() const;

    // Walks `length` records from `start` (clamped to the log) in groups of `resolution`
    // (at least 1); each group is handed over as one record: its latest time and the maxima of
    // its levels. Called under the log's lock: the block must not call back into the log.
    void enumerateDataInRange(std::uint64_t start, std::uint64_t length, std::uint64_t resolution,
                              const std::function<void(const KOSPLRecord&)>& block) const;

private:
    mutable std::mutex mMutex;
    std::vector<KOSPLRecord> mRecords;
    QString mName;
    std::uint32_t mWeight = 0;
    std::uint32_t mSpeed = 0;
    std::uint64_t mSelectionStart = 0;
    std::uint64_t mSelectionLength = 0;
};
