#include "SDFloatVector.h"

#include "AIFFWriter.h"
#include "KOFloatVector.h"
#include "SDDoubleFloatVector.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <limits>
#include <mutex>
#include <stdexcept>

using koru::platform::KeyedUnarchiver;

namespace {

template <typename Vector> void registerVectorClass(const QString& className) {
    KeyedUnarchiver::registerClass(className, [](KeyedUnarchiver& coder) {
        auto vector = std::make_unique<Vector>();
        vector->initWithCoder(coder);
        return std::unique_ptr<koru::platform::Archivable>(std::move(vector));
    });
}

// Archives of these classes are readable whether or not this program has made a vector yet.
const bool registeredAtStart = (SDFloatVector::registerArchiveClasses(), true);

} // namespace

void SDFloatVector::registerArchiveClasses() {
    static std::once_flag once;
    std::call_once(once, [] {
        registerVectorClass<SDFloatVector>(SDFloatVector::kClassName);
        registerVectorClass<SDDoubleFloatVector>(SDDoubleFloatVector::kClassName);
        registerVectorClass<KOFloatVector>(KOFloatVector::kClassName);
    });
}

float SDFloatVector::correlation(const SDFloatVector& other) const {
    if (other.mLength != mLength)
        return std::numeric_limits<float>::quiet_NaN();
    double dot = 0.0;
    for (std::uint64_t i = 0; i < mLength; ++i)
        dot += double(mData[i]) * double(other.mData[i]);
    return float(dot) / (rms() * other.rms()) / float(mLength);
}

SDFloatVector& SDFloatVector::padToLength(std::uint64_t n) {
    if (n <= mLength)
        return *this;
    const SDFloatVector zeros(n - mLength);
    return appendVector(zeros);
}

std::shared_ptr<SDDoubleFloatVector> SDFloatVector::doublePrecisionVector() const {
    if (mLength == 0)
        return nullptr;
    auto converted = std::make_shared<SDDoubleFloatVector>(mLength);
    std::copy(mData.get(), mData.get() + mLength, converted->mutableData());
    return converted;
}

bool SDFloatVector::writeToAIFFFileAtURL(const QString& path, double sampleRate,
                                         QString* error) const {
    return koru::platform::writeMonoAIFF24(path, mData.get(), mLength, sampleRate, error);
}

std::shared_ptr<SDFloatVector>
SDFloatVector::vectorMaxMagAdjustedToLength(std::uint64_t target) const {
    if (target == 0)
        throw std::invalid_argument("Invalid parameter not satisfying: otherLength");
    if (mLength == target)
        return selfOrCopy();
    const std::uint64_t block = std::bit_ceil(mLength / target) / 2;
    if (block == 0)
        return selfOrCopy();
    const std::uint64_t count = mLength / block;
    auto reduced = std::make_shared<SDFloatVector>(count);
    float* out = reduced->mutableData();
    for (std::uint64_t k = 0; k < count; ++k) {
        const float* first = mData.get() + k * block;
        const auto [low, high] = std::minmax_element(first, first + block);
        out[k] = std::fabs(*high) < std::fabs(*low) ? *low : *high;
    }
    return reduced;
}
