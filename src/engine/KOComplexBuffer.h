#pragma once

#include "KOBuffer.h"
#include "KOFloatBuffer.h"
#include "SplitComplex.h"

#include <cstdint>

// Complex values in split form: a real half and an imaginary half, each a float buffer of the
// same length, created zero-filled. Destinations must hold at least Length() elements.
class KOComplexBuffer : public KOBuffer {
public:
    explicit KOComplexBuffer(std::uint32_t length);
    KOComplexBuffer(const KOComplexBuffer&) = delete;
    KOComplexBuffer& operator=(const KOComplexBuffer&) = delete;

    KOFloatBuffer& Real() { return mReal; }
    const KOFloatBuffer& Real() const { return mReal; }
    KOFloatBuffer& Imag() { return mImag; }
    const KOFloatBuffer& Imag() const { return mImag; }
    koru::platform::SplitComplex<float> Split() const { return mSplit; }

    // real² + imag²; clears the destination's decibel flag.
    void SquaredMagnitudes(KOFloatBuffer& destination) const;
    // sqrt(real² + imag²); clears the destination's decibel flag.
    void Magnitudes(KOFloatBuffer& destination) const;
    // atan2(imag, real) in radians.
    void Phases(KOFloatBuffer& destination) const;
    void Clear();

private:
    KOFloatBuffer mReal;
    KOFloatBuffer mImag;
    koru::platform::SplitComplex<float> mSplit;
};
