#pragma once

#include "engine/KOTwoChannelInstrument.h"
#include "engine/TripleBuffer.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

class KOTransferResults;

// The dual-channel measurement: a source (reference, channel A) and a response (channel B) are
// cut into overlapping windowed frames of N points (hop N/4); their auto spectra Gaa, Gbb and
// cross spectrum Gab are averaged exponentially, and each step yields the transfer function
// H = Gab / Gaa and the coherence |Gab|² / (Gaa·Gbb).
//
// Frames pair strictly in time: source frame k starts at sample k·hop of the stored stream and
// is averaged with response frame k, which starts `delay` samples later. A step runs as soon as
// the response frame is complete; the ring holds the largest delay plus one frame and a buffer,
// so the matching source frame is always still there, whatever the delay.
//
// Per step: Gab += conj(A)·B, Gaa += |A|², Gbb += |B|²; H and the coherence from the sums; then
// all sums are multiplied by λ = r^(N/16384), which gives every FFT size the same memory in time.
// The coherence is clamped to [0, 1] (rounding lifts clean bins a few ulp above 1) and a bin
// where either auto spectrum is 0 reads H = 0 and coherence 0, never NaN. The sums are kept in
// double precision: with r = 1 they grow without bound.
//
// Threads: Process runs on the audio thread and never locks or allocates: a new FFT size or
// window arrives as a state built on main, handed over through an atomic pointer; delay, channel
// and reset requests are atomics it reads at its next call; results leave through a triple
// buffer. CopyResults (collector or main) and the rebuilds serialise on the instrument mutex.
class KOTransferAnalyzer : public KOTwoChannelInstrument {
public:
    static constexpr std::uint32_t kMinimumFFTSize = 8192;
    static constexpr std::uint32_t kMaximumFFTSize = 65536;
    static constexpr std::int64_t kMaximumDelay = 131072;
    // The largest delay, one frame of the largest size and the largest buffer the engine hands
    // out, rounded up to a power of two.
    static constexpr std::uint32_t kRingFrames = 262144;
    // Reference size of the averaging rate: λ = r at this N.
    static constexpr float kRateReferenceSize = 16384.0f;

    // fftSize: a power of two from 8192 to 65536 (std::invalid_argument otherwise). Rate 1.0
    // (plain sums), delay 0, source channel 0, response channel 1.
    KOTransferAnalyzer(std::uint32_t fftSize, std::uint32_t windowType);
    ~KOTransferAnalyzer() override;
    KOTransferAnalyzer(const KOTransferAnalyzer&) = delete;
    KOTransferAnalyzer& operator=(const KOTransferAnalyzer&) = delete;

    void Process(const AudioBufferList* buffers, std::uint32_t frames) override;
    bool IsPauseable() const override { return true; }

    // A size outside the powers of two 8192..65536 is refused (false). Restarts the clocks at the
    // current delay and clears the spectra.
    bool SetFFTSize(std::uint32_t size);
    std::uint32_t FFTSize() const { return mFFTSize.load(std::memory_order_relaxed); }
    // Restarts the clocks and clears the spectra: a sum must not mix two windows.
    void SetWindowType(std::uint32_t type);
    std::uint32_t WindowType() const { return mWindowType.load(std::memory_order_relaxed); }

    // r as a fraction (0.80..1.00 in use); a value outside (0, 1] or not a number is clamped
    // into it, so the sums never grow from a decay above 1 or turn negative.
    void SetAveragingRate(float rate);
    float AveragingRate() const { return mRate.load(std::memory_order_relaxed); }
    float AveragingFactor() const;

    // Both restart the clocks with delay 0 and clear the spectra.
    void SetSourceChannel(std::uint32_t ch);
    void SetResponseChannel(std::uint32_t ch);
    std::uint32_t SourceChannel() const { return ChannelA(); }
    std::uint32_t ResponseChannel() const { return ChannelB(); }

    // Clamped to 0..131072 samples. Restarts the clocks and clears the spectra.
    void SetDelay(std::int64_t delay);
    std::int64_t Delay() const { return mDelay.load(std::memory_order_relaxed); }

    // Clears the accumulated spectra at the next buffer. Also while paused: a reset asked for
    // then (a rate change, the user's Reset) is kept, not lost.
    void ResetSpectra();

    // The analyser's own pause (Process does nothing), separate from the client pause.
    void SetAnalyzerPaused(bool paused) { mAnalyzerPaused.store(paused); }
    bool IsAnalyzerPaused() const { return mAnalyzerPaused.load(); }

    // magnitude = |H|² (flag cleared), phase = arg H when withPhase (else untouched), coherence;
    // over the first N/2 entries of results of length N. Before the first step of the current
    // size, or into results of another length, the three are zeros. Clears the new-data flag.
    void CopyResults(KOTransferResults& results, bool withPhase);

    // Averaging steps since the last restart or reset (read with the results).
    std::uint64_t Steps();

private:
    struct State;
    struct Published {
        std::uint32_t fftSize = 0; // 0: nothing computed since the last restart
        std::uint64_t steps = 0;
        std::vector<float> real;
        std::vector<float> imag;
        std::vector<float> coherence;
    };

    static bool IsValidSize(std::uint32_t size);
    void HandOver(std::unique_ptr<State> state);
    void ReclaimRetired();
    void TakePendingState();
    void Restart(State& state);
    void ComputeTransfer(State& state, bool publish);

    std::mutex mRebuildMutex; // lock order: rebuild mutex, then the instrument mutex
    State* mActive = nullptr; // audio thread
    std::atomic<State*> mPending{nullptr};
    std::atomic<State*> mRetired{nullptr};
    koru::TripleBuffer<Published> mResults; // written by the audio thread only

    std::atomic<std::uint32_t> mFFTSize{0};
    std::atomic<std::uint32_t> mWindowType{0};
    std::atomic<float> mRate{1.0f};
    std::atomic<std::int64_t> mDelay{0};
    std::atomic<std::uint32_t> mRestartRequests{0};
    std::atomic<std::uint32_t> mResetRequests{0};
    std::atomic<bool> mAnalyzerPaused{false};
};
