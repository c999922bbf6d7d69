#include "RealVectorBase.h"

#include "LinearInterpolation.h"
#include "SDDoubleFloatVector.h"
#include "SDFloatVector.h"
#include "WindowGenerator.h"
#include "utility/VEHash64.h"

#include <fmt/format.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <new>
#include <stdexcept>

namespace koru {

using platform::makePageAlignedZeros;

namespace {

template <typename T> platform::PageAlignedArray<T> zeros(std::uint64_t n) {
    auto storage = makePageAlignedZeros<T>(n);
    if (n > 0 && !storage)
        throw std::bad_alloc();
    return storage;
}

} // namespace

template <typename T, typename Self>
std::shared_ptr<Self> RealVectorBase<T, Self>::vectorWithLength(std::uint64_t n) {
    return std::make_shared<Self>(n);
}

template <typename T, typename Self>
std::shared_ptr<Self> RealVectorBase<T, Self>::vectorWithData(const T* data, std::uint64_t n) {
    return std::make_shared<Self>(data, n);
}

template <typename T, typename Self>
std::shared_ptr<Self> RealVectorBase<T, Self>::vectorWithWindow(std::uint32_t type, std::uint64_t n,
                                                                bool half) {
    auto vector = std::make_shared<Self>(n);
    vector->becomeWindow(type, half);
    return vector;
}

template <typename T, typename Self>
RealVectorBase<T, Self>::RealVectorBase(const T* data, std::uint64_t n) {
    allocate(n);
    if (n > 0)
        std::memcpy(mData.get(), data, n * sizeof(T));
}

template <typename T, typename Self> void RealVectorBase<T, Self>::allocate(std::uint64_t n) {
    mData.reset();
    mLength = 0;
    mData = zeros<T>(n);
    mLength = n;
}

template <typename T, typename Self>
void RealVectorBase<T, Self>::initWithCoder(platform::KeyedUnarchiver& coder) {
    const QByteArray bytes = coder.decodeData(kDataKey);
    const std::uint64_t n = std::uint64_t(bytes.size()) / sizeof(T);
    allocate(n);
    if (n > 0)
        std::memcpy(mData.get(), bytes.constData(), n * sizeof(T));
}

template <typename T, typename Self>
void RealVectorBase<T, Self>::encodeWithCoder(platform::KeyedArchiver& coder) const {
    if (mLength == 0)
        return;
    coder.encodeData(
        kDataKey, QByteArray(reinterpret_cast<const char*>(mData.get()), qsizetype(byteLength())));
}

template <typename T, typename Self> std::shared_ptr<Self> RealVectorBase<T, Self>::copy() const {
    return std::make_shared<Self>(mData.get(), mLength);
}

template <typename T, typename Self> std::uint64_t RealVectorBase<T, Self>::hash() const {
    return VEHash64(mData.get(), byteLength());
}

template <typename T, typename Self>
bool RealVectorBase<T, Self>::acceptsClassOf(const platform::Archivable& other) const {
    return dynamic_cast<const Self*>(&other) != nullptr;
}

template <typename T, typename Self>
bool RealVectorBase<T, Self>::isEqual(const platform::Archivable& other) const {
    if (!acceptsClassOf(other))
        return false;
    const auto& vector = static_cast<const Self&>(other);
    // A matching hash only says "probably": the elements decide.
    return vector.hash() == hash() && vector.length() == mLength &&
           (mLength == 0 || std::memcmp(vector.data(), mData.get(), byteLength()) == 0);
}

template <typename T, typename Self> QString RealVectorBase<T, Self>::debugDescription() const {
    std::string text;
    for (std::uint64_t i = 0; i < mLength; ++i)
        fmt::format_to(std::back_inserter(text), "{}\t{:g}\n", i, mData[i]);
    return QString::fromStdString(text);
}

template <typename T, typename Self>
QPainterPath RealVectorBase<T, Self>::debugQuickLookObject() const {
    QPainterPath path(QPointF(0.0, 0.0));
    for (std::uint64_t i = 0; i < mLength; ++i)
        path.lineTo(double(i) * 1024.0 / double(mLength), double(mData[i]) * 100.0);
    return path;
}

template <typename T, typename Self> Self& RealVectorBase<T, Self>::clear() {
    return fill(T(0));
}

template <typename T, typename Self> Self& RealVectorBase<T, Self>::fill(T value) {
    std::fill(mData.get(), mData.get() + mLength, value);
    return self();
}

template <typename T, typename Self> Self& RealVectorBase<T, Self>::scalarMul(T value) {
    T* x = mData.get();
    for (std::uint64_t i = 0; i < mLength; ++i)
        x[i] *= value;
    return self();
}

template <typename T, typename Self> Self& RealVectorBase<T, Self>::scalarDiv(T value) {
    T* x = mData.get();
    for (std::uint64_t i = 0; i < mLength; ++i)
        x[i] /= value;
    return self();
}

template <typename T, typename Self>
Self& RealVectorBase<T, Self>::vmul(const RealVectorBase& other) {
    T* x = mData.get();
    const T* y = other.mData.get();
    for (std::uint64_t i = 0; i < mLength; ++i)
        x[i] *= y[i];
    return self();
}

template <typename T, typename Self>
Self& RealVectorBase<T, Self>::vdiv(const RealVectorBase& other) {
    T* x = mData.get();
    const T* y = other.mData.get();
    for (std::uint64_t i = 0; i < mLength; ++i)
        x[i] /= y[i];
    return self();
}

template <typename T, typename Self>
Self& RealVectorBase<T, Self>::vadd(const RealVectorBase& other) {
    T* x = mData.get();
    const T* y = other.mData.get();
    const std::uint64_t n = std::min(mLength, other.mLength);
    for (std::uint64_t i = 0; i < n; ++i)
        x[i] += y[i];
    return self();
}

template <typename T, typename Self>
Self& RealVectorBase<T, Self>::vsub(const RealVectorBase& other) {
    T* x = mData.get();
    const T* y = other.mData.get();
    const std::uint64_t n = std::min(mLength, other.mLength);
    for (std::uint64_t i = 0; i < n; ++i)
        x[i] -= y[i];
    return self();
}

template <typename T, typename Self> Self& RealVectorBase<T, Self>::square() {
    T* x = mData.get();
    for (std::uint64_t i = 0; i < mLength; ++i)
        x[i] *= x[i];
    return self();
}

template <typename T, typename Self> Self& RealVectorBase<T, Self>::sqrt() {
    T* x = mData.get();
    for (std::uint64_t i = 0; i < mLength; ++i)
        x[i] = std::sqrt(x[i]);
    return self();
}

template <typename T, typename Self> Self& RealVectorBase<T, Self>::normalize() {
    const T largest = maxMag();
    if (largest == T(0))
        return self();
    return scalarDiv(largest);
}

template <typename T, typename Self> Self& RealVectorBase<T, Self>::convertToDecibels(int kind) {
    const T factor = kind == 0 ? T(10) : T(20);
    T* x = mData.get();
    for (std::uint64_t i = 0; i < mLength; ++i)
        x[i] = factor * std::log10(x[i]);
    return self();
}

template <typename T, typename Self> Self& RealVectorBase<T, Self>::reverse() {
    std::reverse(mData.get(), mData.get() + mLength);
    return self();
}

template <typename T, typename Self> Self& RealVectorBase<T, Self>::half() {
    mLength /= 2;
    return self();
}

template <typename T, typename Self> Self& RealVectorBase<T, Self>::shift(std::int64_t n) {
    if (mLength == 0 || n == 0)
        return self();
    const auto length = std::int64_t(mLength);
    const std::int64_t right = ((n % length) + length) % length;
    T* x = mData.get();
    std::rotate(x, x + (length - right), x + length);
    return self();
}

template <typename T, typename Self>
Self& RealVectorBase<T, Self>::appendVector(const RealVectorBase& other) {
    const std::uint64_t total = mLength + other.mLength;
    auto joined = zeros<T>(total);
    std::copy(mData.get(), mData.get() + mLength, joined.get());
    std::copy(other.mData.get(), other.mData.get() + other.mLength, joined.get() + mLength);
    mData = std::move(joined);
    mLength = total;
    return self();
}

template <typename T, typename Self>
Self& RealVectorBase<T, Self>::becomeWindow(std::uint32_t type, bool half) {
    platform::generateWindow(type, mData.get(), mLength, half);
    return self();
}

template <typename T, typename Self> T RealVectorBase<T, Self>::maxMag(std::uint64_t* index) const {
    T largest = T(0);
    std::uint64_t at = 0;
    for (std::uint64_t i = 0; i < mLength; ++i) {
        const T magnitude = std::fabs(mData[i]);
        if (magnitude > largest) {
            largest = magnitude;
            at = i;
        }
    }
    if (index)
        *index = at;
    return largest;
}

template <typename T, typename Self> T RealVectorBase<T, Self>::rms() const {
    if (mLength == 0)
        return T(0);
    double sum = 0.0;
    for (std::uint64_t i = 0; i < mLength; ++i)
        sum += double(mData[i]) * double(mData[i]);
    return T(std::sqrt(sum / double(mLength)));
}

template <typename T, typename Self>
std::shared_ptr<Self> RealVectorBase<T, Self>::subvectorOfRange(std::uint64_t location,
                                                                std::uint64_t count) const {
    if (location > mLength || count > mLength - location)
        throw std::out_of_range("subvector range lies outside the vector");
    return std::make_shared<Self>(mData.get() + location, count);
}

template <typename T, typename Self>
std::shared_ptr<Self> RealVectorBase<T, Self>::vectorAdjustedToLength(std::uint64_t n) const {
    if (n == mLength)
        return copy();
    auto adjusted = std::make_shared<Self>(n);
    if (mLength == 0 || n == 0)
        return adjusted;
    auto positions = zeros<T>(mLength);
    platform::resampleOntoIntegers(mData.get(), mLength, T(n), adjusted->mutableData(), n,
                                   positions.get());
    return adjusted;
}

template <typename T, typename Self>
std::shared_ptr<Self> RealVectorBase<T, Self>::selfOrCopy() const {
    if (auto held = this->weak_from_this().lock())
        return std::const_pointer_cast<Self>(held);
    return copy();
}

template class RealVectorBase<float, SDFloatVector>;
template class RealVectorBase<double, SDDoubleFloatVector>;

} // namespace koru
