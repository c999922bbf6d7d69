#pragma once

#include "platform/archive/KeyedArchive.h"

#include <QDateTime>
#include <QString>

#include <cstdint>
#include <limits>
#include <memory>
#include <mutex>
#include <optional>

class SDFloatVector;

// One delay-finder result: a name, when it was measured and the impulse response, whose largest
// magnitude marks the delay. Archived as "timeStamp", "name" and "impulseResponse" (an
// SDFloatVector); an older form kept the samples as raw floats under "ir", which is still read.
// The properties may be read and set from any thread.
class KODelayFinderData : public koru::platform::Archivable {
public:
    static constexpr const char* kClassName = "KODelayFinderData";
    static constexpr const char* kTimeStampKey = "timeStamp";
    static constexpr const char* kNameKey = "name";
    static constexpr const char* kImpulseResponseKey = "impulseResponse";
    static constexpr const char* kLegacyImpulseResponseKey = "ir";
    static constexpr const char* kDefaultName = "Delay Finder";
    // What the peak searches answer when there is no peak to find.
    static constexpr std::int64_t kNotFound = std::numeric_limits<std::int64_t>::max();

    // Named "Delay Finder", stamped now, holding a copy of the samples.
    static std::shared_ptr<KODelayFinderData> delayFinderDataWithFloatBuffer(const float* samples,
                                                                             std::uint64_t count);
    // Makes archived results readable; safe to call more than once.
    static void registerArchiveClasses();

    KODelayFinderData();
    ~KODelayFinderData() override;

    void initWithCoder(koru::platform::KeyedUnarchiver& coder);
    QString archiveClassName() const override { return QString::fromLatin1(kClassName); }
    void encodeWithCoder(koru::platform::KeyedArchiver& coder) const override;

    QString name() const;
    void setName(const QString& name);
    QDateTime timeStamp() const;
    void setTimeStamp(const QDateTime& timeStamp);
    // Never null; empty when the result holds no samples.
    std::shared_ptr<const SDFloatVector> impulseResponse() const;
    void setImpulseResponse(std::shared_ptr<const SDFloatVector> vector);

    // The index, in the whole impulse response, of the largest magnitude among `length` samples
    // from `location` (the first on ties). A range reaching past the end is cut at the end.
    // kNotFound for an empty range, a range beyond the end, or a silent one (all zeros: a
    // response without signal has no delay to show).
    std::int64_t findPeakInRange(std::uint64_t location, std::uint64_t length) const;
    std::int64_t findPeakPosition() const;

    // A peak index as a delay: indices in the upper half of a response of `length` samples
    // stand for a response that leads the source, by length - index samples (a negative delay).
    static std::int64_t signedDelayForPeak(std::int64_t peak, std::uint64_t length);
    // The delay a finished measurement may apply by itself: the peak when there is one and the
    // response lags the source. A leading response (a negative delay) cannot be compensated by
    // delaying the source, and applying its index would delay it by almost the whole response.
    std::optional<std::int64_t> delayToApply() const;

private:
    mutable std::mutex mMutex; // guards the three members below
    QString mName;
    QDateTime mTimeStamp;
    std::shared_ptr<const SDFloatVector> mImpulseResponse;
};
