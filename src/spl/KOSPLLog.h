#pragma once

#include <QDateTime>
#include <QString>

#include <cstdint>
#include <functional>
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
    KOSPLLog();

    void addSPL(float spl, float avg, float leq, const QDateTime& time = QDateTime());
    std::uint64_t length() const;
    QDateTime startDate() const;
    KOSPLRecord recordAtIndex(std::uint64_t index) const;

    QString name() const;
    void setName(const QString& name);
    std::uint32_t weight() const;
    void setWeight(std::uint32_t weighting);
    std::uint32_t speed() const;
    void setSpeed(std::uint32_t speed);

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
    QDateTime mStartDate;
    QString mName;
    std::uint32_t mWeight = 0;
    std::uint32_t mSpeed = 0;
    std::uint64_t mSelectionStart = 0;
    std::uint64_t mSelectionLength = 0;
};
