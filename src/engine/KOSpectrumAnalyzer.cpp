#include "engine/KOSpectrumAnalyzer.h"

#include "engine/KOFFTBox.h"
#include "engine/SampleTimeRing.h"
#include "engine/TripleBuffer.h"
#include "zotools/ZOAudioInput.h"

#include <algorithm>
#include <bit>
#include <span>
#include <stdexcept>

// Everything whose size follows N, from one size change to the next: the ring and block timing
// the audio thread works with, and the spectra it publishes. A window change keeps it.
struct KOSpectrumAnalyzer::Stream {
    explicit Stream(std::uint32_t n)
        : size(n), ring(1, n), fetch(n), spectra(KOFloatBuffer(n)), readEnd(2 * std::int64_t(n)),
          readPosition(n) {}

    const std::uint32_t size;
    koru::SampleTimeRing ring;
    KOFloatBuffer fetch;                       // the block being analysed
    koru::TripleBuffer<KOFloatBuffer> spectra; // N values each; the upper N/2 stay 0
    std::int64_t writeTime = 0;
    std::int64_t readEnd;
    // Written by the audio thread only; readers see them through Analyses and ReadPosition.
    std::atomic<std::int64_t> readPosition;
    std::atomic<std::uint32_t> analyses{0};
};

// What the audio thread works with: a transform with its window, over a stream.
struct KOSpectrumAnalyzer::State {
    std::unique_ptr<KOFFTBox> box;
    std::shared_ptr<Stream> stream;
    State* nextRetired = nullptr;
};

KOSpectrumAnalyzer::KOSpectrumAnalyzer(std::uint32_t fftSize, std::uint32_t windowType)
    : KOSpectrumAnalyzer(fftSize, windowType, kMaximumFFTSize) {}

KOSpectrumAnalyzer::KOSpectrumAnalyzer(std::uint32_t fftSize, std::uint32_t windowType,
                                       std::uint32_t maximumFFTSize)
    : mMaximumFFTSize(maximumFFTSize) {
    // An analyser without a valid size would have no blocks to work on.
    if (!IsValidSize(fftSize))
        throw std::invalid_argument("KOSpectrumAnalyzer: FFT size out of range");
    mWindowType.store(windowType, std::memory_order_relaxed);
    SetFFTSize(fftSize);
}

KOSpectrumAnalyzer::~KOSpectrumAnalyzer() {
    if (ZOAudioInput* host = Host())
        host->RemoveClient(this);
    // No Process runs any more; a collection or a rebuild that is still running finishes first.
    const std::lock_guard rebuild(mRebuildMutex);
    const std::lock_guard lock(InstrumentMutex());
    std::unique_ptr<State> active(mActive);
    std::unique_ptr<State> pending(mPending.exchange(nullptr));
    ReclaimRetired();
}

bool KOSpectrumAnalyzer::IsValidSize(std::uint32_t size) const {
    return std::has_single_bit(size) && size >= kMinimumFFTSize && size <= mMaximumFFTSize;
}

void KOSpectrumAnalyzer::SetFFTSize(std::uint32_t size) {
    if (!IsValidSize(size))
        return;
    const std::lock_guard rebuild(mRebuildMutex);
    auto stream = std::make_shared<Stream>(size);
    auto state =
        std::make_unique<State>(State{std::make_unique<KOFFTBox>(size, WindowType()), stream});
    {
        // Readers see the new size's empty spectrum from now on, even before the audio thread
        // takes the state over.
        const std::lock_guard lock(InstrumentMutex());
        std::swap(mReaderStream, stream);
        mFFTSize.store(size, std::memory_order_relaxed);
        mWindowType.store(state->box->WindowType(), std::memory_order_relaxed);
    }
    HandOver(std::move(state));
    // The readers' old stream is released here, outside the mutex.
}

void KOSpectrumAnalyzer::SetWindowType(std::uint32_t type) {
    const std::lock_guard rebuild(mRebuildMutex);
    // Only rebuilds change the readers' stream, so the rebuild mutex is enough to read it.
    auto box = std::make_unique<KOFFTBox>(mReaderStream->size, type);
    mWindowType.store(box->WindowType(), std::memory_order_relaxed);
    HandOver(std::make_unique<State>(State{std::move(box), mReaderStream}));
}

// A state the audio thread has not taken yet is simply replaced: it never saw it.
void KOSpectrumAnalyzer::HandOver(std::unique_ptr<State> state) {
    const std::unique_ptr<State> replaced(
        mPending.exchange(state.release(), std::memory_order_acq_rel));
    ReclaimRetired();
}

void KOSpectrumAnalyzer::ReclaimRetired() {
    State* state = mRetired.exchange(nullptr, std::memory_order_acquire);
    while (state != nullptr) {
        const std::unique_ptr<State> gone(state);
        state = state->nextRetired;
    }
}

bool KOSpectrumAnalyzer::TakeNewestSpectrum() {
    return mReaderStream->spectra.TakeNewest();
}

const KOFloatBuffer& KOSpectrumAnalyzer::NewestSpectrum() const {
    return mReaderStream->spectra.Front();
}

// The audio thread publishes first and raises the flag second; clearing it and then looking again
// (all four in one total order) means a spectrum published meanwhile is never left unannounced.
void KOSpectrumAnalyzer::SettleNewData() {
    SetNewData(false);
    if (mReaderStream->spectra.HasFresh())
        SetNewData(true);
}

void KOSpectrumAnalyzer::Collect(KOFloatBuffer& destination) {
    ReclaimRetired();
    const std::lock_guard lock(InstrumentMutex());
    TakeNewestSpectrum();
    const KOFloatBuffer& spectrum = NewestSpectrum();
    destination.SetDecibel(false);
    // A destination still sized for an earlier FFT size receives what fits.
    const std::uint32_t half = spectrum.Length() / 2;
    const std::uint32_t count = std::min(destination.Length(), half);
    const float halfSize = float(half);
    const float* bins = spectrum.Data();
    float* out = destination.Data();
    for (std::uint32_t k = 0; k < count; ++k)
        out[k] = bins[k] / halfSize;
    SettleNewData();
}

std::uint32_t KOSpectrumAnalyzer::Analyses() {
    const std::lock_guard lock(InstrumentMutex());
    return mReaderStream->analyses.load(std::memory_order_relaxed);
}

std::int64_t KOSpectrumAnalyzer::ReadPosition() {
    const std::lock_guard lock(InstrumentMutex());
    return mReaderStream->readPosition.load(std::memory_order_relaxed);
}

void KOSpectrumAnalyzer::Process(const AudioBufferList* buffers, std::uint32_t frames) {
    TakePendingState();
    CountReceived(frames);
    const std::uint32_t channel = Channel();
    if (mActive == nullptr || buffers == nullptr || buffers->mBuffers == nullptr ||
        channel >= buffers->mNumberBuffers)
        return;
    const AudioBuffer& buffer = buffers->mBuffers[channel];
    if (buffer.mData == nullptr)
        return;
    const std::uint32_t available = buffer.mDataByteSize / std::uint32_t(sizeof(float));
    const std::uint32_t count = std::min(frames, available);
    StoreAndAnalyse(static_cast<const float*>(buffer.mData), count);
    CountAnalysed(count);
}

// The state left behind goes onto the retired list (one writer: a plain push needs no ABA care,
// the reclaimer takes the whole list at once).
void KOSpectrumAnalyzer::TakePendingState() {
    if (mPending.load(std::memory_order_relaxed) == nullptr)
        return;
    State* next = mPending.exchange(nullptr, std::memory_order_acquire);
    if (next == nullptr)
        return;
    if (mActive != nullptr) {
        mActive->nextRetired = mRetired.load(std::memory_order_relaxed);
        while (!mRetired.compare_exchange_weak(
            mActive->nextRetired, mActive, std::memory_order_release, std::memory_order_relaxed)) {
        }
    }
    mActive = next;
}

// Stores up to the end of the pending block, analyses it, and goes on with the rest, so a call
// of any length analyses every whole block it completes and the timing never falls behind the
// ring (a ring of N frames is enough).
void KOSpectrumAnalyzer::StoreAndAnalyse(const float* samples, std::uint32_t frames) {
    Stream& stream = *mActive->stream;
    std::uint32_t done = 0;
    while (done < frames) {
        const std::int64_t toBlockEnd = stream.readEnd - stream.writeTime;
        const std::uint32_t remaining = frames - done;
        const std::uint32_t chunk =
            toBlockEnd > 0 ? std::uint32_t(std::min<std::int64_t>(remaining, toBlockEnd))
                           : remaining;
        const float* source = samples + done;
        stream.ring.store(std::span<const float* const>(&source, 1), chunk, stream.writeTime);
        stream.writeTime += chunk;
        done += chunk;
        if (stream.writeTime >= stream.readEnd)
            Analyse();
    }
}

void KOSpectrumAnalyzer::Analyse() {
    Stream& stream = *mActive->stream;
    const std::int64_t start = stream.readPosition.load(std::memory_order_relaxed);
    stream.ring.fetchChannel(0, stream.fetch.Data(), stream.size, start);
    const KOComplexBuffer& work = mActive->box->Forward(stream.fetch);
    KOFloatBuffer& spectrum = stream.spectra.Back();
    if (SquaredMagnitudes())
        work.SquaredMagnitudes(spectrum);
    else
        work.Magnitudes(spectrum);
    const std::int64_t next = start + stream.size / 8;
    stream.readPosition.store(next, std::memory_order_relaxed);
    stream.readEnd = next + stream.size;
    stream.analyses.store(stream.analyses.load(std::memory_order_relaxed) + 1,
                          std::memory_order_relaxed);
    stream.spectra.Publish();
    SetNewData(true);
}
