#pragma once

#include "PageAlignedArray.h"
#include "SplitComplex.h"

#include <QString>

#include <cstdint>
#include <memory>

namespace koru {

// What the single- and double-precision complex vectors share: split storage of L complex
// values, the packing of a real signal (L reals in the first L/2 elements: real[k] = x[2k],
// imag[k] = x[2k+1]) and an in-place real FFT of the largest power of two not above L, in the
// convention of platform::PackedRealFFT. Each transform plans and allocates: not for the audio
// thread.
template <typename T, typename Self, typename RealVector>
class ComplexVectorBase : public std::enable_shared_from_this<Self> {
public:
    using value_type = T;
    static constexpr int kForward = 1;
    static constexpr int kInverse = -1;

    static std::shared_ptr<Self> vectorWithLength(std::uint64_t n);
    static std::shared_ptr<Self> vectorWithVector(platform::SplitComplex<T> pair, std::uint64_t n);
    // The forward transform of a real vector.
    static std::shared_ptr<Self> forwardFFT(const RealVector& real);
    // The inverse transform of a packed spectrum, unpacked into a real vector (as t() does).
    static std::shared_ptr<RealVector> inverseFFT(const Self& spectrum);

    explicit ComplexVectorBase(std::uint64_t n);
    ComplexVectorBase(platform::SplitComplex<T> pair, std::uint64_t n);
    // A vector of the real vector's length holding its values packed.
    explicit ComplexVectorBase(const RealVector& real);
    ComplexVectorBase(const ComplexVectorBase&) = delete;
    ComplexVectorBase& operator=(const ComplexVectorBase&) = delete;
    virtual ~ComplexVectorBase() = default;

    // Packs L reals into the first L/2 elements.
    void fillWithRealData(const T* reals);
    // direction kForward or kInverse; vectors shorter than 2 stay as they are.
    Self& doFFT(int direction);
    Self& forwardFFT() { return doFFT(kForward); }
    Self& inverseFFT() { return doFFT(kInverse); }

    // The packed real signal, unpacked.
    std::shared_ptr<RealVector> t() const;
    // real² + imag² (squared magnitudes).
    std::shared_ptr<RealVector> mag() const;
    std::shared_ptr<RealVector> abs() const;
    // atan2(imag, real) in radians.
    std::shared_ptr<RealVector> phi() const;
    // Squared magnitudes and phases of all L elements; either destination may be null.
    void getMag(T* magOut, T* phiOut) const;
    Self& clear();
    std::shared_ptr<RealVector> realVector() const;
    std::shared_ptr<RealVector> imagVector() const;

    std::uint64_t length() const { return mLength; }
    platform::SplitComplex<T> data() const { return {mReal.get(), mImag.get()}; }
    const T* realData() const { return mReal.get(); }
    const T* imagData() const { return mImag.get(); }
    T* mutableRealData() { return mReal.get(); }
    T* mutableImagData() { return mImag.get(); }

    std::shared_ptr<Self> copy() const;
    QString debugDescription() const;

protected:
    Self& self() { return static_cast<Self&>(*this); }

    platform::PageAlignedArray<T> mReal;
    platform::PageAlignedArray<T> mImag;
    std::uint64_t mLength = 0;
};

} // namespace koru
