#pragma once

#include "engine/KOFloatBuffer.h"
#include "engine/KOOneChannelInstrument.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>

// The windowed-FFT instrument of one channel. The audio thread keeps the newest N frames of the
// selected channel and computes one spectrum every N/8 frames; the collector copies the newest
// spectrum out, scaled by 1/(N/2), so a collected value is 4·|X[k]|/N of the windowed block
// (the window's own gain stays in: a bin-centred full-scale sine reads 1.633 with Hann).
//
// The audio thread never waits and never drops a block. Each spectrum goes out through a triple
// buffer, so a reader always finds the newest complete one. A new size or window is built by the
// caller (allocation, FFT planning) and handed over through an atomic pointer; Process takes it
// at the start of its next call and every frame from then on goes into the new state. The state
// it leaves is put on a lock-free list and freed by the next rebuild or collection, never on the
// audio thread.
//
// Threads: Process on the audio thread; Collect on the collector; SetFFTSize and SetWindowType
// on main (a subclass may rebuild from SetHost, under the engine mutex). The instrument mutex
// serialises the readers, the rebuild mutex the rebuilds; Process takes neither. Lock order:
// engine mutex, rebuild mutex, instrument mutex.
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
    // (the first N frames after it are never analysed) and clears the spectrum at once; the
    // audio thread switches at its next call.
    void SetFFTSize(std::uint32_t size);
    // Keeps the size, the block timing and the spectrum.
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

    // Reader side, under the instrument mutex. Takes the newest published spectrum when one came
    // since the last take (false when none did); NewestSpectrum then holds it, unscaled, in N
    // values of which the lower N/2 are the bins, or zeros of the current size before the first.
    bool TakeNewestSpectrum();
    const KOFloatBuffer& NewestSpectrum() const;
    // Clears the new-data flag unless a spectrum is waiting to be taken.
    void SettleNewData();

private:
    struct Stream;
    struct State;

    bool IsValidSize(std::uint32_t size) const;
    void HandOver(std::unique_ptr<State> state);
    void ReclaimRetired();
    void TakePendingState();
    void StoreAndAnalyse(const float* samples, std::uint32_t frames);
    void Analyse();

    const std::uint32_t mMaximumFFTSize;
    std::mutex mRebuildMutex;
    std::shared_ptr<Stream> mReaderStream; // changed under both mutexes, read under either
    State* mActive = nullptr;              // audio thread
    std::atomic<State*> mPending{nullptr}; // built, not yet taken by the audio thread
    std::atomic<State*> mRetired{nullptr}; // left by the audio thread, linked by nextRetired
    std::atomic<std::uint32_t> mFFTSize{0};
    std::atomic<std::uint32_t> mWindowType{0};
    std::atomic<bool> mSquaredMagnitudes{false};
};
