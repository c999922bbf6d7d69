#include "spl/KOSPLLog.h"

#include "utility/VEDate.h"

#include <algorithm>

KOSPLLog::KOSPLLog() : mStartDate(QDateTime::currentDateTime()) {}

void KOSPLLog::addSPL(float spl, float avg, float leq, const QDateTime& time) {
    const QDateTime when = time.isValid() ? time : QDateTime::currentDateTime();
    const KOSPLRecord record{VEDate::timeIntervalSinceReferenceDate(when), spl, avg, leq};
    const std::lock_guard lock(mMutex);
    mRecords.push_back(record);
}

std::uint64_t KOSPLLog::length() const {
    const std::lock_guard lock(mMutex);
    return mRecords.size();
}

QDateTime KOSPLLog::startDate() const {
    const std::lock_guard lock(mMutex);
    return mStartDate;
}

KOSPLRecord KOSPLLog::recordAtIndex(std::uint64_t index) const {
    const std::lock_guard lock(mMutex);
    return index < mRecords.size() ? mRecords[index] : KOSPLRecord{};
}

QString KOSPLLog::name() const {
    const std::lock_guard lock(mMutex);
    return mName;
}

void KOSPLLog::setName(const QString& name) {
    const std::lock_guard lock(mMutex);
    mName = name;
}

std::uint32_t KOSPLLog::weight() const {
    const std::lock_guard lock(mMutex);
    return mWeight;
}

void KOSPLLog::setWeight(std::uint32_t weighting) {
    const std::lock_guard lock(mMutex);
    mWeight = weighting;
}

std::uint32_t KOSPLLog::speed() const {
    const std::lock_guard lock(mMutex);
    return mSpeed;
}

void KOSPLLog::setSpeed(std::uint32_t speed) {
    const std::lock_guard lock(mMutex);
    mSpeed = speed;
}

void KOSPLLog::setSelectionRange(std::uint64_t start, std::uint64_t length) {
    const std::lock_guard lock(mMutex);
    mSelectionStart = std::min<std::uint64_t>(start, mRecords.size());
    mSelectionLength = std::min<std::uint64_t>(length, mRecords.size() - mSelectionStart);
}

std::pair<std::uint64_t, std::uint64_t> KOSPLLog::selectionRange() const {
    const std::lock_guard lock(mMutex);
    return {mSelectionStart, mSelectionLength};
}

void KOSPLLog::enumerateDataInRange(std::uint64_t start, std::uint64_t length,
                                    std::uint64_t resolution,
                                    const std::function<void(const KOSPLRecord&)>& block) const {
    const std::lock_guard lock(mMutex);
    const std::uint64_t count = mRecords.size();
    start = std::min(start, count);
    const std::uint64_t end = start + std::min(length, count - start);
    resolution = std::max<std::uint64_t>(resolution, 1);
    for (std::uint64_t i = start; i < end; i += resolution) {
        KOSPLRecord group = mRecords[i];
        for (std::uint64_t j = i + 1; j < std::min(end, i + resolution); ++j) {
            const KOSPLRecord& record = mRecords[j];
            group.time = record.time;
            group.spl = std::max(group.spl, record.spl);
            group.avg = std::max(group.avg, record.avg);
            group.leq = std::max(group.leq, record.leq);
        }
        block(group);
    }
}
