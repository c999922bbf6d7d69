#pragma once

#include "KOComplexBuffer.h"
#include "KOFFTWindow.h"
#include "PackedRealFFT.h"

#include <cstdint>
#include <memory>

// A real FFT of one size with its window and work buffer, in the packed convention of
// koru::platform::PackedRealFFT. Setup allocates and plans (never on the audio thread);
// Forward neither allocates nor locks.
class KOFFTBox {
public:
    // size: a power of two of at least 2 (std::invalid_argument otherwise).
    KOFFTBox(std::uint32_t size, std::uint32_t windowType);
    KOFFTBox(const KOFFTBox&) = delete;
    KOFFTBox& operator=(const KOFFTBox&) = delete;

    // Rebuilds for a new size; a window the box already has keeps its type over windowType.
    void Setup(std::uint32_t size, std::uint32_t windowType);
    void SetWindowType(std::uint32_t type);
    std::uint32_t WindowType() const { return mWindow->Type(); }

    // Windows input in place (the caller's buffer stays windowed), packs and transforms it.
    // input holds at least Size() samples. The result belongs to the box until the next call.
    KOComplexBuffer& Forward(KOFloatBuffer& input);
    // Inverse transform of a packed spectrum of Size()/2 bins, unscaled. The spectrum is
    // changed (it receives the packed result); the returned samples belong to the caller.
    std::unique_ptr<KOFloatBuffer> Inverse(KOComplexBuffer& spectrum);

    std::uint32_t Size() const { return mSize; }
    std::uint32_t Log2Size() const { return mLog2Size; }
    std::uint32_t HalfSize() const { return mHalfSize; }
    // 2/N, for callers that want amplitudes; the box never applies it.
    float Scale() const { return mScale; }
    const KOFFTWindow& Window() const { return *mWindow; }

private:
    std::unique_ptr<KOFFTWindow> mWindow;
    std::uint32_t mSize = 0;
    std::uint32_t mLog2Size = 0;
    std::unique_ptr<koru::platform::PackedRealFFT<float>> mFFT;
    float mScale = 0.0f;
    std::uint32_t mHalfSize = 0;
    std::unique_ptr<KOComplexBuffer> mWork;
};
