#include "KOFFTBox.h"

#include <bit>
#include <cstring>

KOFFTBox::KOFFTBox(std::uint32_t size, std::uint32_t windowType) {
    Setup(size, windowType);
}

void KOFFTBox::Setup(std::uint32_t size, std::uint32_t windowType) {
    // Everything new is built before anything is replaced, so a failure leaves the box as it was.
    auto fft = std::make_unique<koru::platform::PackedRealFFT<float>>(size);
    const std::uint32_t type = mWindow ? mWindow->Type() : windowType;
    auto window = std::make_unique<KOFFTWindow>(size, type);
    auto work = std::make_unique<KOComplexBuffer>(size);

    mSize = size;
    mFFT = std::move(fft);
    mWindow = std::move(window);
    mWork = std::move(work);
    mLog2Size = 32 - std::uint32_t(std::countl_zero(size - 1));
    mScale = 2.0f / float(size);
    mHalfSize = size / 2;
}

void KOFFTBox::SetWindowType(std::uint32_t type) {
    mWindow = std::make_unique<KOFFTWindow>(mSize, type);
}

KOComplexBuffer& KOFFTBox::Forward(KOFloatBuffer& input) {
    float* x = input.Data();
    const float* w = mWindow->Data();
    for (std::uint32_t i = 0; i < mSize; ++i)
        x[i] *= w[i];
    mFFT->forward(x, mWork->Real().Data(), mWork->Imag().Data());
    return *mWork;
}

std::unique_ptr<KOFloatBuffer> KOFFTBox::Inverse(KOComplexBuffer& spectrum) {
    float* re = spectrum.Real().Data();
    float* im = spectrum.Imag().Data();
    mFFT->inverse(re, im);
    const float* y = mFFT->samples();
    for (std::uint32_t k = 0; k < mHalfSize; ++k) {
        re[k] = y[2 * k];
        im[k] = y[2 * k + 1];
    }
    auto result = std::make_unique<KOFloatBuffer>(mSize);
    std::memcpy(result->Data(), y, sizeof(float) * mSize);
    return result;
}
