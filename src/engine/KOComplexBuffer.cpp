#include "KOComplexBuffer.h"

#include <cmath>

KOComplexBuffer::KOComplexBuffer(std::uint32_t length)
    : KOBuffer(length), mReal(length), mImag(length), mSplit{mReal.Data(), mImag.Data()} {}

void KOComplexBuffer::SquaredMagnitudes(KOFloatBuffer& destination) const {
    const float* re = mReal.Data();
    const float* im = mImag.Data();
    float* out = destination.Data();
    for (std::uint32_t k = 0; k < mLength; ++k)
        out[k] = re[k] * re[k] + im[k] * im[k];
    destination.SetDecibel(false);
}

// Built without errno handling (see CMakeLists.txt), so this loop vectorises.
void KOComplexBuffer::Magnitudes(KOFloatBuffer& destination) const {
    const float* re = mReal.Data();
    const float* im = mImag.Data();
    float* out = destination.Data();
    for (std::uint32_t k = 0; k < mLength; ++k)
        out[k] = std::sqrt(re[k] * re[k] + im[k] * im[k]);
    destination.SetDecibel(false);
}

void KOComplexBuffer::Phases(KOFloatBuffer& destination) const {
    const float* re = mReal.Data();
    const float* im = mImag.Data();
    float* out = destination.Data();
    for (std::uint32_t k = 0; k < mLength; ++k)
        out[k] = std::atan2(im[k], re[k]);
}

void KOComplexBuffer::Clear() {
    mReal.Clear();
    mImag.Clear();
}
