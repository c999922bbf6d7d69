#include "spl/KOSPLLog.h"

#include "utility/VEDate.h"

#include <QtEndian>

#include <algorithm>
#include <bit>
#include <cstring>

namespace {

constexpr std::uint32_t fourCC(const char (&code)[5]) {
    return (std::uint32_t(std::uint8_t(code[0])) << 24) |
           (std::uint32_t(std::uint8_t(code[1])) << 16) |
           (std::uint32_t(std::uint8_t(code[2])) << 8) | std::uint32_t(std::uint8_t(code[3]));
}

constexpr std::uint32_t kSlow = fourCC("slow");
constexpr std::uint32_t kFast = fourCC("fast");
constexpr std::uint32_t kA = fourCC("a_wt");
constexpr std::uint32_t kB = fourCC("b_wt");
constexpr std::uint32_t kC = fourCC("c_wt");

void putFloat(char* at, float value) {
    qToLittleEndian(std::bit_cast<std::uint32_t>(value), at);
}

void putDouble(char* at, double value) {
    qToLittleEndian(std::bit_cast<std::uint64_t>(value), at);
}

float takeFloat(const char* at) {
    return std::bit_cast<float>(qFromLittleEndian<std::uint32_t>(at));
}

double takeDouble(const char* at) {
    return std::bit_cast<double>(qFromLittleEndian<std::uint64_t>(at));
}

// A store integer as an unsigned code; anything else (missing, text, negative) reads 0.
std::uint32_t codeFrom(const QVariant& value) {
    bool ok = false;
    const qulonglong code = value.toULongLong(&ok);
    switch (value.typeId()) {
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
        return ok && code <= 0xFFFFFFFFull ? std::uint32_t(code) : 0;
    default:
        return 0;
    }
}

} // namespace

KOSPLLog::KOSPLLog() {
    mRecords.reserve(2400);
}

bool KOSPLLog::isValidSpeed(std::uint32_t speed) {
    return speed == kSlow || speed == kFast;
}

bool KOSPLLog::isValidWeight(std::uint32_t weighting) {
    return weighting == kA || weighting == kB || weighting == kC;
}

QByteArray KOSPLLog::encodeRecords(const std::vector<KOSPLRecord>& records) {
    QByteArray bytes(qsizetype(records.size()) * kRecordSize, '\0');
    char* at = bytes.data();
    for (const KOSPLRecord& record : records) {
        putFloat(at, record.spl);
        putFloat(at + 4, record.avg);
        putFloat(at + 8, record.leq);
        putDouble(at + 16, record.time);
        at += kRecordSize;
    }
    return bytes;
}

std::vector<KOSPLRecord> KOSPLLog::decodeRecords(const QByteArray& bytes) {
    const qsizetype count = bytes.size() / kRecordSize;
    std::vector<KOSPLRecord> records;
    records.reserve(std::size_t(count));
    const char* at = bytes.constData();
    for (qsizetype i = 0; i < count; ++i, at += kRecordSize)
        records.push_back(
            {takeDouble(at + 16), takeFloat(at), takeFloat(at + 4), takeFloat(at + 8)});
    return records;
}

std::shared_ptr<KOSPLLog> KOSPLLog::fromDictionary(const QVariantMap& entry, QString* reason,
                                                   QString* warning) {
    auto log = std::make_shared<KOSPLLog>();
    if (!log->setSpeed(codeFrom(entry.value(QString::fromLatin1(kSpeedKey))))) {
        if (reason)
            *reason = QStringLiteral("invalid SPL Speed given");
        return nullptr;
    }
    if (!log->setWeight(codeFrom(entry.value(QString::fromLatin1(kWeightKey))))) {
        if (reason)
            *reason = QStringLiteral("invalid SPL Weight given");
        return nullptr;
    }
    log->setName(entry.value(QString::fromLatin1(kNameKey)).toString());
    const QVariant data = entry.value(QString::fromLatin1(kDataKey));
    const QByteArray bytes =
        data.typeId() == QMetaType::QByteArray ? data.toByteArray() : QByteArray();
    if (warning) {
        if (data.isValid() && data.typeId() != QMetaType::QByteArray)
            *warning = QStringLiteral("its records are not data");
        else if (bytes.size() % kRecordSize != 0)
            *warning = QStringLiteral("its records end in a part record of %1 bytes (dropped)")
                           .arg(bytes.size() % kRecordSize);
    }
    log->mRecords = decodeRecords(bytes);
    return log;
}

QVariantMap KOSPLLog::dictionaryRepresentation() const {
    const std::lock_guard lock(mMutex);
    QVariantMap entry{{QString::fromLatin1(kNameKey), mName},
                      {QString::fromLatin1(kDataKey), encodeRecords(mRecords)},
                      {QString::fromLatin1(kSpeedKey), qulonglong(mSpeed)},
                      {QString::fromLatin1(kWeightKey), qulonglong(mWeight)}};
    if (!mRecords.empty())
        entry.insert(QString::fromLatin1(kStartDateKey),
                     VEDate::dateWithTimeIntervalSinceReferenceDate(mRecords.front().time));
    return entry;
}

QByteArray KOSPLLog::splData() const {
    const std::lock_guard lock(mMutex);
    return encodeRecords(mRecords);
}

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
    if (mRecords.empty())
        return {};
    return VEDate::dateWithTimeIntervalSinceReferenceDate(mRecords.front().time);
}

KOSPLRecord KOSPLLog::recordAtIndex(std::uint64_t index) const {
    const std::lock_guard lock(mMutex);
    return index < mRecords.size() ? mRecords[index] : KOSPLRecord{};
}

std::vector<KOSPLRecord> KOSPLLog::copyRecords(std::uint64_t start, std::uint64_t length) const {
    const std::lock_guard lock(mMutex);
    const std::uint64_t count = mRecords.size();
    start = std::min(start, count);
    length = std::min(length, count - start);
    return {mRecords.begin() + std::ptrdiff_t(start),
            mRecords.begin() + std::ptrdiff_t(start + length)};
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

bool KOSPLLog::setWeight(std::uint32_t weighting) {
    if (!isValidWeight(weighting))
        return false;
    const std::lock_guard lock(mMutex);
    mWeight = weighting;
    return true;
}

std::uint32_t KOSPLLog::speed() const {
    const std::lock_guard lock(mMutex);
    return mSpeed;
}

bool KOSPLLog::setSpeed(std::uint32_t speed) {
    if (!isValidSpeed(speed))
        return false;
    const std::lock_guard lock(mMutex);
    mSpeed = speed;
    return true;
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
