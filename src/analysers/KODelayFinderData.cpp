#include "analysers/KODelayFinderData.h"

#include "analysers/KOFloatBufferCoding.h"
#include "engine/SDFloatVector.h"

#include <cmath>
#include <mutex>

using koru::platform::KeyedArchiver;
using koru::platform::KeyedUnarchiver;

namespace {

// Archives of results are readable whether or not this program has measured a delay yet.
const bool registeredAtStart = (KODelayFinderData::registerArchiveClasses(), true);

} // namespace

void KODelayFinderData::registerArchiveClasses() {
    static std::once_flag once;
    std::call_once(once, [] {
        SDFloatVector::registerArchiveClasses();
        KeyedUnarchiver::registerClass(QString::fromLatin1(kClassName), [](KeyedUnarchiver& coder) {
            auto data = std::make_unique<KODelayFinderData>();
            data->initWithCoder(coder);
            return std::unique_ptr<koru::platform::Archivable>(std::move(data));
        });
    });
}

std::shared_ptr<KODelayFinderData>
KODelayFinderData::delayFinderDataWithFloatBuffer(const float* samples, std::uint64_t count) {
    auto data = std::make_shared<KODelayFinderData>();
    data->setImpulseResponse(samples != nullptr && count > 0
                                 ? SDFloatVector::vectorWithData(samples, count)
                                 : std::make_shared<SDFloatVector>());
    return data;
}

KODelayFinderData::KODelayFinderData()
    : mName(QString::fromLatin1(kDefaultName)), mTimeStamp(QDateTime::currentDateTimeUtc()),
      mImpulseResponse(std::make_shared<SDFloatVector>()) {
    (void)registeredAtStart;
}

KODelayFinderData::~KODelayFinderData() = default;

void KODelayFinderData::initWithCoder(KeyedUnarchiver& coder) {
    setName(coder.decodeString(QString::fromLatin1(kNameKey), QString::fromLatin1(kDefaultName)));
    const QVariant stamp = coder.decodeValue(QString::fromLatin1(kTimeStampKey));
    if (stamp.typeId() == QMetaType::QDateTime && stamp.toDateTime().isValid())
        setTimeStamp(stamp.toDateTime());
    std::uint64_t length = 0;
    std::unique_ptr<float[]> legacy = KOFloatBufferCoding::decodeFloatBufferForKey(
        coder, QString::fromLatin1(kLegacyImpulseResponseKey), &length);
    if (legacy != nullptr && length > 0) {
        setImpulseResponse(SDFloatVector::vectorWithData(legacy.get(), length));
        return;
    }
    std::unique_ptr<SDFloatVector> vector =
        coder.decodeObjectOfClass<SDFloatVector>(QString::fromLatin1(kImpulseResponseKey));
    setImpulseResponse(vector != nullptr ? std::shared_ptr<const SDFloatVector>(std::move(vector))
                                         : std::make_shared<SDFloatVector>());
}

void KODelayFinderData::encodeWithCoder(KeyedArchiver& coder) const {
    const std::lock_guard lock(mMutex);
    coder.encodeValue(QString::fromLatin1(kTimeStampKey), mTimeStamp);
    coder.encodeString(QString::fromLatin1(kNameKey), mName);
    coder.encodeObject(QString::fromLatin1(kImpulseResponseKey), mImpulseResponse.get());
}

QString KODelayFinderData::name() const {
    const std::lock_guard lock(mMutex);
    return mName;
}

void KODelayFinderData::setName(const QString& name) {
    const std::lock_guard lock(mMutex);
    mName = name;
}

QDateTime KODelayFinderData::timeStamp() const {
    const std::lock_guard lock(mMutex);
    return mTimeStamp;
}

void KODelayFinderData::setTimeStamp(const QDateTime& timeStamp) {
    const std::lock_guard lock(mMutex);
    mTimeStamp = timeStamp;
}

std::shared_ptr<const SDFloatVector> KODelayFinderData::impulseResponse() const {
    const std::lock_guard lock(mMutex);
    return mImpulseResponse;
}

void KODelayFinderData::setImpulseResponse(std::shared_ptr<const SDFloatVector> vector) {
    if (vector == nullptr)
        vector = std::make_shared<SDFloatVector>();
    const std::lock_guard lock(mMutex);
    mImpulseResponse = std::move(vector);
}

std::int64_t KODelayFinderData::findPeakInRange(std::uint64_t location,
                                                std::uint64_t length) const {
    const std::shared_ptr<const SDFloatVector> vector = impulseResponse();
    const std::uint64_t total = vector->length();
    if (length == 0 || location >= total)
        return kNotFound;
    const std::uint64_t end = location + std::min(length, total - location);
    const float* samples = vector->data();
    std::uint64_t index = location;
    float largest = 0.0f;
    for (std::uint64_t i = location; i < end; ++i) {
        // Written so that no-number samples never win.
        if (std::fabs(samples[i]) > largest) {
            largest = std::fabs(samples[i]);
            index = i;
        }
    }
    return largest > 0.0f ? std::int64_t(index) : kNotFound;
}

std::int64_t KODelayFinderData::findPeakPosition() const {
    return findPeakInRange(0, impulseResponse()->length());
}

std::int64_t KODelayFinderData::signedDelayForPeak(std::int64_t peak, std::uint64_t length) {
    if (peak == kNotFound || peak < 0 || std::uint64_t(peak) >= length)
        return peak;
    return std::uint64_t(peak) > length / 2 ? peak - std::int64_t(length) : peak;
}

std::optional<std::int64_t> KODelayFinderData::delayToApply() const {
    const std::int64_t peak = findPeakPosition();
    const std::int64_t delay = signedDelayForPeak(peak, impulseResponse()->length());
    if (peak == kNotFound || delay < 0)
        return std::nullopt;
    return delay;
}
