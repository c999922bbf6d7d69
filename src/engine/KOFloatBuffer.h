#pragma once

#include "KOBuffer.h"

#include <cstdint>
#include <memory>

// An array of 32-bit floats with its length and a decibel flag. It either owns page-aligned
// storage or wraps samples it does not own (an audio buffer fetched in an instrument's process
// pass, without copying). All operations work in place; operations taking a second buffer trust
// the caller that it holds at least this buffer's length.
class KOFloatBuffer : public KOBuffer {
public:
    // length zeros. Throws KOBufferException 'bxzl' for 0, KOAllocationException when short of
    // memory.
    explicit KOFloatBuffer(std::uint32_t length);
    // A copy of length values. Throws 'bxnc' for null data, 'bxzl' for 0.
    KOFloatBuffer(const float* data, std::uint32_t length, bool decibel);
    // Over one audio buffer's samples (length = byte size / 4): copied when copy is set,
    // otherwise wrapped without owning them. Throws 'bxnc' for null data.
    template <typename AudioBufferT>
    requires requires(const AudioBufferT& buffer) {
        buffer.mDataByteSize;
        buffer.mData;
    }
    KOFloatBuffer(const AudioBufferT& audioBuffer, bool copy)
        : KOFloatBuffer(audioBuffer.mData, std::uint32_t(audioBuffer.mDataByteSize), copy,
                        WrapTag{}) {}
    // A copy of other, or of its first half (rounding down) when firstHalfOnly is set.
    KOFloatBuffer(const KOFloatBuffer& other, bool firstHalfOnly = false);
    // A deep copy into storage of our own; assigning a buffer to itself does nothing.
    KOFloatBuffer& operator=(const KOFloatBuffer& other);
    virtual ~KOFloatBuffer();

    virtual float* Data() { return mData; }
    const float* Data() const { return mData; }
    // Scales the buffer so its largest magnitude is 1; a silent buffer stays as it is.
    virtual void Normalize(bool apply);

    bool IsDecibel() const { return mDecibel; }
    void SetDecibel(bool decibel) { mDecibel = decibel; }
    bool OwnsData() const { return mOwnsData; }

    void Fill(float value);
    void Clear();
    // kind 0: 10·log10(x / reference) (power), kind 1: 20·log10(x / reference) (amplitude).
    // Converts once: does nothing while the decibel flag is set.
    void ToDecibels(int kind, float reference);
    void Clip(float low, float high);
    // Places element m at abscissa positions[m] and reads the curve at the destination's integer
    // indices. Throws KOMathException 20 when positions' length differs from ours.
    void Interpolate(KOFloatBuffer& destination, const KOFloatBuffer& positions) const;
    // Spreads our samples evenly over [from, to] and reads them at the destination's indices.
    void InterpolateRange(KOFloatBuffer& destination, float from, float to);
    void MaxMagnitude(float& value, std::uint32_t& index) const;
    float Correlation(const KOFloatBuffer& other) const;
    KOFloatBuffer& Scale(float factor);
    KOFloatBuffer& Multiply(const KOFloatBuffer& other);
    KOFloatBuffer& Add(const KOFloatBuffer& other);
    KOFloatBuffer& Subtract(const KOFloatBuffer& other);
    float ValueAt(std::uint32_t index) const { return index < mLength ? mData[index] : 0.0f; }
    // Stretches the contents along the index axis by numerator/denominator, keeping the length.
    void Stretch(double numerator, double denominator);
    // Resamples to newLength elements (new storage, owned). Throws 'bxzl' for 0.
    void ResizeTo(std::uint32_t newLength);
    float Mean(bool firstHalfOnly) const;
    // Elements below t become 0.
    void Threshold(float t);

private:
    struct WrapTag {};
    KOFloatBuffer(void* samples, std::uint32_t byteSize, bool copy, WrapTag);

    void adoptCopyOf(const float* data, std::uint32_t length);
    void releaseData();

    bool mDecibel = false;
    float* mData = nullptr;
    bool mOwnsData = false;
    std::unique_ptr<KOFloatBuffer> mRamp;
};
