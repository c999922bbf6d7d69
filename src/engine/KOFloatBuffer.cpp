#include "KOFloatBuffer.h"

#include "KOAllocationException.h"
#include "KOBufferException.h"
#include "KOMathException.h"
#include "LinearInterpolation.h"
#include "PageAlignedArray.h"

#include <algorithm>
#include <cmath>
#include <cstring>

using koru::platform::makePageAlignedZeros;

namespace {

float* allocateZeros(std::uint32_t length) {
    if (length == 0)
        throw KOBufferException(KOBufferException::kZeroLength);
    auto storage = makePageAlignedZeros<float>(length);
    if (!storage)
        throw KOAllocationException();
    return storage.release();
}

float* allocateCopy(const float* data, std::uint32_t length) {
    float* copy = allocateZeros(length);
    std::memcpy(copy, data, sizeof(float) * length);
    return copy;
}

double sumOfSquares(const float* data, std::uint32_t length) {
    double sum = 0.0;
    for (std::uint32_t i = 0; i < length; ++i)
        sum += double(data[i]) * double(data[i]);
    return sum;
}

float rootMeanSquare(const float* data, std::uint32_t length) {
    return float(std::sqrt(sumOfSquares(data, length) / double(length)));
}

} // namespace

KOFloatBuffer::KOFloatBuffer(std::uint32_t length)
    : KOBuffer(length), mData(allocateZeros(length)), mOwnsData(true) {}

KOFloatBuffer::KOFloatBuffer(const float* data, std::uint32_t length, bool decibel)
    : KOBuffer(length), mDecibel(decibel) {
    if (!data)
        throw KOBufferException(KOBufferException::kNoData);
    mData = allocateCopy(data, length);
    mOwnsData = true;
}

KOFloatBuffer::KOFloatBuffer(void* samples, std::uint32_t byteSize, bool copy, WrapTag)
    : KOBuffer(byteSize / sizeof(float)) {
    if (!samples)
        throw KOBufferException(KOBufferException::kNoData);
    if (mLength == 0)
        throw KOBufferException(KOBufferException::kZeroLength);
    if (copy) {
        mData = allocateCopy(static_cast<const float*>(samples), mLength);
        mOwnsData = true;
        return;
    }
    mData = static_cast<float*>(samples);
}

KOFloatBuffer::KOFloatBuffer(const KOFloatBuffer& other, bool firstHalfOnly)
    : KOBuffer(firstHalfOnly ? other.mLength / 2 : other.mLength), mDecibel(other.mDecibel),
      mData(allocateCopy(other.mData, mLength)), mOwnsData(true) {}

KOFloatBuffer& KOFloatBuffer::operator=(const KOFloatBuffer& other) {
    if (this == &other)
        return *this;
    adoptCopyOf(other.mData, other.mLength);
    mDecibel = other.mDecibel;
    return *this;
}

KOFloatBuffer::~KOFloatBuffer() {
    releaseData();
}

void KOFloatBuffer::adoptCopyOf(const float* data, std::uint32_t length) {
    float* copy = allocateCopy(data, length);
    releaseData();
    mData = copy;
    mLength = length;
    mOwnsData = true;
}

void KOFloatBuffer::releaseData() {
    if (mOwnsData)
        std::free(mData);
    mData = nullptr;
    mOwnsData = false;
}

void KOFloatBuffer::Normalize(bool apply) {
    if (!apply)
        return;
    float largest = 0.0f;
    std::uint32_t index = 0;
    MaxMagnitude(largest, index);
    if (largest == 0.0f)
        return;
    Scale(1.0f / largest);
}

void KOFloatBuffer::Fill(float value) {
    std::fill(mData, mData + mLength, value);
}

void KOFloatBuffer::Clear() {
    Fill(0.0f);
}

void KOFloatBuffer::ToDecibels(int kind, float reference) {
    if (mDecibel)
        return;
    const float factor = kind == 0 ? 10.0f : 20.0f;
    for (std::uint32_t i = 0; i < mLength; ++i)
        mData[i] = factor * std::log10(mData[i] / reference);
    mDecibel = true;
}

void KOFloatBuffer::Clip(float low, float high) {
    for (std::uint32_t i = 0; i < mLength; ++i)
        mData[i] = std::min(std::max(mData[i], low), high);
}

void KOFloatBuffer::Interpolate(KOFloatBuffer& destination, const KOFloatBuffer& positions) const {
    if (positions.mLength != mLength)
        throw KOMathException(KOMathException::kLengthMismatch);
    koru::platform::interpolateAtIntegers(mData, positions.mData, mLength, destination.mData,
                                          destination.mLength);
}

void KOFloatBuffer::InterpolateRange(KOFloatBuffer& destination, float from, float to) {
    // The ramp follows our length: a resize since the last call must not leave it stale.
    if (!mRamp || mRamp->mLength != mLength)
        mRamp = std::make_unique<KOFloatBuffer>(mLength);
    koru::platform::fillLinearRamp(mRamp->mData, mLength, from, to);
    Interpolate(destination, *mRamp);
}

void KOFloatBuffer::MaxMagnitude(float& value, std::uint32_t& index) const {
    float largest = std::fabs(mData[0]);
    std::uint32_t at = 0;
    for (std::uint32_t i = 1; i < mLength; ++i) {
        const float magnitude = std::fabs(mData[i]);
        if (magnitude > largest) {
            largest = magnitude;
            at = i;
        }
    }
    value = largest;
    index = at;
}

float KOFloatBuffer::Correlation(const KOFloatBuffer& other) const {
    double dot = 0.0;
    for (std::uint32_t i = 0; i < mLength; ++i)
        dot += double(mData[i]) * double(other.mData[i]);
    const float norms = rootMeanSquare(mData, mLength) * rootMeanSquare(other.mData, other.mLength);
    return float(dot) / norms / float(mLength);
}

KOFloatBuffer& KOFloatBuffer::Scale(float factor) {
    for (std::uint32_t i = 0; i < mLength; ++i)
        mData[i] *= factor;
    return *this;
}

KOFloatBuffer& KOFloatBuffer::Multiply(const KOFloatBuffer& other) {
    const float* source = other.mData;
    for (std::uint32_t i = 0; i < mLength; ++i)
        mData[i] *= source[i];
    return *this;
}

KOFloatBuffer& KOFloatBuffer::Add(const KOFloatBuffer& other) {
    const float* source = other.mData;
    for (std::uint32_t i = 0; i < mLength; ++i)
        mData[i] += source[i];
    return *this;
}

KOFloatBuffer& KOFloatBuffer::Subtract(const KOFloatBuffer& other) {
    const float* source = other.mData;
    for (std::uint32_t i = 0; i < mLength; ++i)
        mData[i] -= source[i];
    return *this;
}

void KOFloatBuffer::Stretch(double numerator, double denominator) {
    const float end = float(numerator / denominator) * float(mLength);
    auto positions = makePageAlignedZeros<float>(mLength);
    auto stretched = makePageAlignedZeros<float>(mLength);
    if (!positions || !stretched)
        throw KOAllocationException();
    koru::platform::resampleOntoIntegers(mData, mLength, end, stretched.get(), mLength,
                                         positions.get());
    std::memcpy(mData, stretched.get(), sizeof(float) * mLength);
}

void KOFloatBuffer::ResizeTo(std::uint32_t newLength) {
    if (newLength == mLength)
        return;
    float* resized = allocateZeros(newLength);
    auto positions = makePageAlignedZeros<float>(mLength);
    if (!positions) {
        std::free(resized);
        throw KOAllocationException();
    }
    koru::platform::resampleOntoIntegers(mData, mLength, float(newLength), resized, newLength,
                                         positions.get());
    releaseData();
    mData = resized;
    mLength = newLength;
    mOwnsData = true;
}

float KOFloatBuffer::Mean(bool firstHalfOnly) const {
    const std::uint32_t count = firstHalfOnly ? mLength / 2 : mLength;
    if (count == 0)
        return 0.0f;
    double sum = 0.0;
    for (std::uint32_t i = 0; i < count; ++i)
        sum += mData[i];
    return float(sum / double(count));
}

void KOFloatBuffer::Threshold(float t) {
    for (std::uint32_t i = 0; i < mLength; ++i)
        mData[i] = mData[i] < t ? 0.0f : mData[i];
}
