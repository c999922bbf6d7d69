#pragma once

#include "engine/KOFFTBox.h"
#include "engine/KOFloatBuffer.h"
#include "engine/KOOneChannelInstrument.h"
#include "engine/SampleTimeRing.h"

#include <atomic>
#include <cstdint>
#include <memory>

// The windowed-FFT instrument of one channel. The audio thread keeps the newest N frames of the
// selected channel and computes one spectrum every N/8 frames; the collector copies the newest
// spectrum out, scaled by 1/(N/2), so a collected value is 4·|X[k]|/N of the windowed block
// (the window's own gain stays in: a bin-centred full-scale sine reads 1.633 with Hann).
//
// Process, Collect, SetFFTSize, SetWindowType and the destructor take the instrument mutex.
// Process only tries it: a buffer that finds it busy (a resize swapping its buffers in, or a
// collection in progress) is dropped whole, so the analysed stream stays contiguous and the
// audio thread never waits.
class KOSpectrumAnalyzer : public KOOneChannelInstrument {
public:
    static constexpr std::uint32_t kMinimumFFTSize = 8192;
    static constexpr std::uint32_t kMaximumFFTSize = 65536;

    // fftSize: a power of two from 8192 to 65536 (std::invalid_argument otherwise).
    KOSpectrumAnalyzer(std::uint32_t fftSize, std::uint32_t windowType);
    ~KOSpectrumAnalyzer() override;

    void Process(const AudioBufferList* buffers, std::uint32_t frames) override;
    bool IsPauseable() const override { return true; }

    // Ignores anything but a power of two within the allowed sizes. Restarts the block timing
    // (the first N frames after it are never analysed) and clears the spectrum.
    void SetFFTSize(std::uint32_t size);
    // Keeps the size and the block timing.
    void SetWindowType(std::uint32_t type);
    std::uint32_t WindowType() const { return mWindowType.load(std::memory_order_relaxed); }

    // destination[k] = spectrum[k] / (N/2) for the first min(N/2, its length) bins; clears its
    // decibel flag and the new-data flag. The spectrum stays, so collecting twice gives the same.
    void Collect(KOFloatBuffer& destination);

    std::uint32_t FFTSize() const { return mFFTSize.load(std::memory_order_relaxed); }
    // Frames between two analyses.
    std::uint32_t HopFrames() const { return FFTSize() / 8; }

    // The power instruments want re² + im² instead of magnitudes.
    void SetSquaredMagnitudes(bool squared) {
        mSquaredMagnitudes.store(squared, std::memory_order_relaxed);
    }
    bool SquaredMagnitudes() const { return mSquaredMagnitudes.load(std::memory_order_relaxed); }

    // Spectra computed since the last size change, and the sample time the next one starts at.
    std::uint32_t Analyses();
    std::int64_t ReadPosition();

protected:
    // For instruments that allow larger transforms than the plain analyser.
    KOSpectrumAnalyzer(std::uint32_t fftSize, std::uint32_t windowType,
                       std::uint32_t maximumFFTSize);

    // Read or changed only under the instrument mutex.
    KOFloatBuffer& Spectrum() { return *mBlocks.spectrum; }

private:
    // Everything whose size follows N: built before the mutex is taken, swapped in under it.
    struct Blocks {
        std::unique_ptr<KOFFTBox> box;
        std::unique_ptr<KOFloatBuffer> spectrum; // N values; the upper N/2 stay 0
        std::unique_ptr<koru::SampleTimeRing> ring;
        std::unique_ptr<KOFloatBuffer> fetch; // the block being analysed
    };

    bool IsValidSize(std::uint32_t size) const;
    static Blocks MakeBlocks(std::uint32_t size, std::uint32_t windowType);
    void StoreAndAnalyse(const float* samples, std::uint32_t frames);
    bool BlockIsStored() const;
    void Analyse();

    const std::uint32_t mMaximumFFTSize;
    Blocks mBlocks;
    std::uint32_t mAnalyses = 0;
    float mHalfSizeAsFloat = 0.0f;
    std::int64_t mWriteTime = 0;
    std::int64_t mReadPosition = 0;
    std::int64_t mReadEnd = 0;
    std::atomic<std::uint32_t> mFFTSize{0};
    std::atomic<std::uint32_t> mWindowType{0};
    std::atomic<bool> mSquaredMagnitudes{false};
};
