#include "ComplexVectorBase.h"

#include "PackedRealFFT.h"
#include "SDComplexVector.h"
#include "SDDoubleComplexVector.h"

#include <fmt/format.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <new>
#include <type_traits>

namespace koru {

namespace {

template <typename T> platform::PageAlignedArray<T> zeros(std::uint64_t n) {
    auto storage = platform::makePageAlignedZeros<T>(n);
    if (n > 0 && !storage)
        throw std::bad_alloc();
    return storage;
}

} // namespace

template <typename T, typename Self, typename RealVector>
std::shared_ptr<Self> ComplexVectorBase<T, Self, RealVector>::vectorWithLength(std::uint64_t n) {
    return std::make_shared<Self>(n);
}

template <typename T, typename Self, typename RealVector>
std::shared_ptr<Self>
ComplexVectorBase<T, Self, RealVector>::vectorWithVector(platform::SplitComplex<T> pair,
                                                         std::uint64_t n) {
    return std::make_shared<Self>(pair, n);
}

template <typename T, typename Self, typename RealVector>
std::shared_ptr<Self> ComplexVectorBase<T, Self, RealVector>::forwardFFT(const RealVector& real) {
    auto spectrum = std::make_shared<Self>(real);
    spectrum->forwardFFT();
    return spectrum;
}

template <typename T, typename Self, typename RealVector>
std::shared_ptr<RealVector>
ComplexVectorBase<T, Self, RealVector>::inverseFFT(const Self& spectrum) {
    auto work = spectrum.copy();
    work->inverseFFT();
    return work->t();
}

template <typename T, typename Self, typename RealVector>
ComplexVectorBase<T, Self, RealVector>::ComplexVectorBase(std::uint64_t n)
    : mReal(zeros<T>(n)), mImag(zeros<T>(n)), mLength(n) {}

template <typename T, typename Self, typename RealVector>
ComplexVectorBase<T, Self, RealVector>::ComplexVectorBase(platform::SplitComplex<T> pair,
                                                          std::uint64_t n)
    : ComplexVectorBase(n) {
    if (n == 0)
        return;
    std::copy(pair.realp, pair.realp + n, mReal.get());
    std::copy(pair.imagp, pair.imagp + n, mImag.get());
}

template <typename T, typename Self, typename RealVector>
ComplexVectorBase<T, Self, RealVector>::ComplexVectorBase(const RealVector& real)
    : ComplexVectorBase(real.length()) {
    fillWithRealData(real.data());
}

template <typename T, typename Self, typename RealVector>
void ComplexVectorBase<T, Self, RealVector>::fillWithRealData(const T* reals) {
    if constexpr (std::is_same_v<T, double>)
        clear();
    const std::uint64_t pairs = mLength / 2;
    for (std::uint64_t k = 0; k < pairs; ++k) {
        mReal[k] = reals[2 * k];
        mImag[k] = reals[2 * k + 1];
    }
}

template <typename T, typename Self, typename RealVector>
Self& ComplexVectorBase<T, Self, RealVector>::doFFT(int direction) {
    if (mLength < 2 || (direction != kForward && direction != kInverse))
        return self();
    const auto n = std::uint32_t(std::bit_floor(mLength));
    const std::uint32_t half = n / 2;
    platform::PackedRealFFT<T> fft(n);
    T* samples = fft.samples();
    if (direction == kForward) {
        for (std::uint32_t k = 0; k < half; ++k) {
            samples[2 * k] = mReal[k];
            samples[2 * k + 1] = mImag[k];
        }
        fft.forward(mReal.get(), mImag.get());
        return self();
    }
    fft.inverse(mReal.get(), mImag.get());
    for (std::uint32_t k = 0; k < half; ++k) {
        mReal[k] = samples[2 * k];
        mImag[k] = samples[2 * k + 1];
    }
    return self();
}

template <typename T, typename Self, typename RealVector>
std::shared_ptr<RealVector> ComplexVectorBase<T, Self, RealVector>::t() const {
    // The single-precision vector reads back the L reals it packs; the double one unpacks all
    // of its L elements into 2L values.
    const std::uint64_t pairs = std::is_same_v<T, double> ? mLength : mLength / 2;
    const std::uint64_t count = std::is_same_v<T, double> ? 2 * mLength : mLength;
    auto real = std::make_shared<RealVector>(count);
    T* x = real->mutableData();
    for (std::uint64_t k = 0; k < pairs; ++k) {
        x[2 * k] = mReal[k];
        x[2 * k + 1] = mImag[k];
    }
    return real;
}

template <typename T, typename Self, typename RealVector>
std::shared_ptr<RealVector> ComplexVectorBase<T, Self, RealVector>::mag() const {
    auto out = std::make_shared<RealVector>(mLength);
    getMag(out->mutableData(), nullptr);
    return out;
}

template <typename T, typename Self, typename RealVector>
std::shared_ptr<RealVector> ComplexVectorBase<T, Self, RealVector>::abs() const {
    auto out = std::make_shared<RealVector>(mLength);
    T* x = out->mutableData();
    for (std::uint64_t k = 0; k < mLength; ++k)
        x[k] = std::sqrt(mReal[k] * mReal[k] + mImag[k] * mImag[k]);
    return out;
}

template <typename T, typename Self, typename RealVector>
std::shared_ptr<RealVector> ComplexVectorBase<T, Self, RealVector>::phi() const {
    auto out = std::make_shared<RealVector>(mLength);
    getMag(nullptr, out->mutableData());
    return out;
}

template <typename T, typename Self, typename RealVector>
void ComplexVectorBase<T, Self, RealVector>::getMag(T* magOut, T* phiOut) const {
    if (magOut) {
        for (std::uint64_t k = 0; k < mLength; ++k)
            magOut[k] = mReal[k] * mReal[k] + mImag[k] * mImag[k];
    }
    if (phiOut) {
        for (std::uint64_t k = 0; k < mLength; ++k)
            phiOut[k] = std::atan2(mImag[k], mReal[k]);
    }
}

template <typename T, typename Self, typename RealVector>
Self& ComplexVectorBase<T, Self, RealVector>::clear() {
    std::fill(mReal.get(), mReal.get() + mLength, T(0));
    std::fill(mImag.get(), mImag.get() + mLength, T(0));
    return self();
}

template <typename T, typename Self, typename RealVector>
std::shared_ptr<RealVector> ComplexVectorBase<T, Self, RealVector>::realVector() const {
    return std::make_shared<RealVector>(mReal.get(), mLength);
}

template <typename T, typename Self, typename RealVector>
std::shared_ptr<RealVector> ComplexVectorBase<T, Self, RealVector>::imagVector() const {
    return std::make_shared<RealVector>(mImag.get(), mLength);
}

template <typename T, typename Self, typename RealVector>
std::shared_ptr<Self> ComplexVectorBase<T, Self, RealVector>::copy() const {
    return std::make_shared<Self>(data(), mLength);
}

template <typename T, typename Self, typename RealVector>
QString ComplexVectorBase<T, Self, RealVector>::debugDescription() const {
    std::string text;
    for (std::uint64_t k = 0; k < mLength; ++k)
        fmt::format_to(std::back_inserter(text), "{}\t{:g} +j{:g}\n", k, mReal[k], mImag[k]);
    return QString::fromStdString(text);
}

template class ComplexVectorBase<float, SDComplexVector, SDFloatVector>;
template class ComplexVectorBase<double, SDDoubleComplexVector, SDDoubleFloatVector>;

} // namespace koru
