#pragma once

#include "PageAlignedArray.h"
#include "platform/archive/KeyedArchive.h"

#include <QPainterPath>
#include <QString>

#include <cstdint>
#include <memory>

namespace koru {

// What the single- and double-precision real vectors share: page-aligned owned storage, in-place
// arithmetic returning the vector itself, measures, resampling, the "dat" archive and the content
// hash. Vectors are reference objects held by std::shared_ptr; copy() makes a new one.
template <typename T, typename Self>
class RealVectorBase : public platform::Archivable, public std::enable_shared_from_this<Self> {
public:
    using value_type = T;
    static inline const QString kDataKey = QStringLiteral("dat");

    static std::shared_ptr<Self> vectorWithLength(std::uint64_t n);
    static std::shared_ptr<Self> vectorWithData(const T* data, std::uint64_t n);
    static std::shared_ptr<Self> vectorWithWindow(std::uint32_t type, std::uint64_t n, bool half);

    RealVectorBase() = default;
    explicit RealVectorBase(std::uint64_t n) { allocate(n); }
    RealVectorBase(const T* data, std::uint64_t n);
    RealVectorBase(const RealVectorBase&) = delete;
    RealVectorBase& operator=(const RealVectorBase&) = delete;
    ~RealVectorBase() override = default;

    // Drops the elements; then n zeros (no storage at all for 0).
    void allocate(std::uint64_t n);
    // Replaces the contents with the whole elements archived under "dat" (none when missing).
    void initWithCoder(platform::KeyedUnarchiver& coder);
    void encodeWithCoder(platform::KeyedArchiver& coder) const override;
    // A vector of the base class (also for subclasses) with a copy of the elements.
    std::shared_ptr<Self> copy() const;

    std::uint64_t length() const { return mLength; }
    std::uint64_t byteLength() const { return mLength * sizeof(T); }
    const T* data() const { return mData.get(); }
    T* mutableData() { return mData.get(); }

    std::uint64_t hash() const;
    // True when other is of this vector's class (or a subclass) with the same elements.
    bool isEqual(const platform::Archivable& other) const;
    QString debugDescription() const;
    QPainterPath debugQuickLookObject() const;

    Self& clear();
    Self& fill(T value);
    Self& scalarMul(T value);
    Self& scalarDiv(T value);
    // Element-wise over our length; other holds at least as many elements.
    Self& vmul(const RealVectorBase& other);
    Self& vdiv(const RealVectorBase& other);
    // self ± other over the shorter of the two lengths.
    Self& vadd(const RealVectorBase& other);
    Self& vsub(const RealVectorBase& other);
    Self& square();
    Self& sqrt();
    // Divides by the largest magnitude; a silent vector stays as it is.
    Self& normalize();
    // kind 0: 10·log10(x), kind 1: 20·log10(x).
    Self& convertToDecibels(int kind);
    Self& reverse();
    // Halves the length (rounding down); the storage stays.
    Self& half();
    // Rotation: the element at i moves to (i + n) modulo the length.
    Self& shift(std::int64_t n);
    Self& appendVector(const RealVectorBase& other);
    // Overwrites the elements with a window of our length (the rising half of one twice as long
    // when half is set); an unknown type leaves them unchanged.
    Self& becomeWindow(std::uint32_t type, bool half);

    T maxMag() const { return maxMag(nullptr); }
    // The largest magnitude and, through index when given, its first position.
    T maxMag(std::uint64_t* index) const;
    T rms() const;
    // Throws std::out_of_range when the range does not lie within the vector.
    std::shared_ptr<Self> subvectorOfRange(std::uint64_t location, std::uint64_t count) const;
    // Linear resampling onto n elements: the old ones placed from 0 to n, read at 0 ... n - 1.
    std::shared_ptr<Self> vectorAdjustedToLength(std::uint64_t n) const;

protected:
    virtual bool acceptsClassOf(const platform::Archivable& other) const;
    Self& self() { return static_cast<Self&>(*this); }
    // This vector when a shared_ptr holds it, else a copy: for operations that may hand back
    // the receiver.
    std::shared_ptr<Self> selfOrCopy() const;

    platform::PageAlignedArray<T> mData;
    std::uint64_t mLength = 0;
};

} // namespace koru
