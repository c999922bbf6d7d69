#include "engine/KOTransferAnalyzer.h"

#include "engine/KOComplexBuffer.h"
#include "engine/KOFFTBox.h"
#include "engine/KOFloatBuffer.h"
#include "engine/KOTransferResults.h"
#include "engine/SampleTimeRing.h"
#include "zotools/ZOAudioInput.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <stdexcept>

// Everything the audio thread works on for one FFT size and window.
struct KOTransferAnalyzer::State {
    State(std::uint32_t size, std::uint32_t windowType)
        : fftSize(size), hop(size / 4), bins(size / 2), sourceBox(size, windowType),
          responseBox(size, windowType), ring(2, kRingFrames), sourceFrame(size),
          responseFrame(size), gaa(bins, 0.0), gbb(bins, 0.0), gabRe(bins, 0.0), gabIm(bins, 0.0) {}

    const std::uint32_t fftSize;
    const std::uint32_t hop;
    const std::uint32_t bins;
    KOFFTBox sourceBox;
    KOFFTBox responseBox;
    koru::SampleTimeRing ring; // channel 0 source, channel 1 response
    KOFloatBuffer sourceFrame;
    KOFloatBuffer responseFrame;
    std::vector<double> gaa;
    std::vector<double> gbb;
    std::vector<double> gabRe;
    std::vector<double> gabIm;

    std::int64_t writeTime = 0;
    std::int64_t nextFrame = 0; // index k of the next frame pair
    std::int64_t delay = 0;
    std::uint64_t steps = 0;
    std::uint32_t restartsSeen = 0;
    std::uint32_t resetsSeen = 0;
    State* nextRetired = nullptr;
};

KOTransferAnalyzer::KOTransferAnalyzer(std::uint32_t fftSize, std::uint32_t windowType)
    : mResults([] {
          Published initial;
          initial.real.assign(kMaximumFFTSize / 2, 0.0f);
          initial.imag.assign(kMaximumFFTSize / 2, 0.0f);
          initial.coherence.assign(kMaximumFFTSize / 2, 0.0f);
          return initial;
      }()) {
    if (!IsValidSize(fftSize))
        throw std::invalid_argument("transfer analyser: FFT size must be a power of two from "
                                    "8192 to 65536");
    SetChannelA(0);
    SetChannelB(NumberOfChannels() == 1 ? 0 : 1);
    mWindowType.store(windowType);
    SetFFTSize(fftSize);
}

KOTransferAnalyzer::~KOTransferAnalyzer() {
    if (ZOAudioInput* host = Host())
        host->RemoveClient(this);
    // No Process runs any more; a collection or a rebuild still running finishes first.
    const std::lock_guard rebuild(mRebuildMutex);
    const std::lock_guard lock(InstrumentMutex());
    std::unique_ptr<State> active(mActive);
    std::unique_ptr<State> pending(mPending.exchange(nullptr));
    ReclaimRetired();
}

bool KOTransferAnalyzer::IsValidSize(std::uint32_t size) {
    return std::has_single_bit(size) && size >= kMinimumFFTSize && size <= kMaximumFFTSize;
}

bool KOTransferAnalyzer::SetFFTSize(std::uint32_t size) {
    if (!IsValidSize(size))
        return false;
    const std::lock_guard rebuild(mRebuildMutex);
    // Built here, never on the audio thread: the boxes plan their transforms.
    auto state = std::make_unique<State>(size, mWindowType.load());
    mFFTSize.store(size);
    HandOver(std::move(state));
    return true;
}

void KOTransferAnalyzer::SetWindowType(std::uint32_t type) {
    const std::lock_guard rebuild(mRebuildMutex);
    mWindowType.store(type);
    auto state = std::make_unique<State>(FFTSize(), type);
    HandOver(std::move(state));
}

void KOTransferAnalyzer::HandOver(std::unique_ptr<State> state) {
    ReclaimRetired();
    // A state the audio thread has not taken yet is replaced; it was never used.
    std::unique_ptr<State> unused(mPending.exchange(state.release()));
}

void KOTransferAnalyzer::ReclaimRetired() {
    State* retired = mRetired.exchange(nullptr);
    while (retired != nullptr) {
        State* next = retired->nextRetired;
        delete retired;
        retired = next;
    }
}

void KOTransferAnalyzer::TakePendingState() {
    State* incoming = mPending.exchange(nullptr);
    if (incoming == nullptr)
        return;
    if (mActive != nullptr) {
        State* head = mRetired.load();
        do {
            mActive->nextRetired = head;
        } while (!mRetired.compare_exchange_weak(head, mActive));
    }
    mActive = incoming;
    // A fresh state starts at the current delay with empty sums.
    mActive->restartsSeen = mRestartRequests.load() - 1;
}

void KOTransferAnalyzer::SetAveragingRate(float rate) {
    mRate.store(!(rate > 0.0f) ? 1e-3f : std::min(rate, 1.0f));
}

float KOTransferAnalyzer::AveragingFactor() const {
    return std::pow(AveragingRate(), float(FFTSize()) * (1.0f / kRateReferenceSize));
}

void KOTransferAnalyzer::SetSourceChannel(std::uint32_t ch) {
    SetChannelA(ch);
    mDelay.store(0);
    mRestartRequests.fetch_add(1);
}

void KOTransferAnalyzer::SetResponseChannel(std::uint32_t ch) {
    SetChannelB(ch);
    mDelay.store(0);
    mRestartRequests.fetch_add(1);
}

void KOTransferAnalyzer::SetDelay(std::int64_t delay) {
    mDelay.store(std::clamp<std::int64_t>(delay, 0, kMaximumDelay));
    mRestartRequests.fetch_add(1);
}

void KOTransferAnalyzer::ResetSpectra() {
    mResetRequests.fetch_add(1);
}

void KOTransferAnalyzer::Restart(State& state) {
    state.ring.reset();
    state.writeTime = 0;
    state.nextFrame = 0;
    state.delay = mDelay.load();
    std::fill(state.gaa.begin(), state.gaa.end(), 0.0);
    std::fill(state.gbb.begin(), state.gbb.end(), 0.0);
    std::fill(state.gabRe.begin(), state.gabRe.end(), 0.0);
    std::fill(state.gabIm.begin(), state.gabIm.end(), 0.0);
    state.steps = 0;
}

void KOTransferAnalyzer::Process(const AudioBufferList* buffers, std::uint32_t frames) {
    TakePendingState();
    CountReceived(frames);
    State* state = mActive;
    if (state == nullptr || mAnalyzerPaused.load(std::memory_order_relaxed))
        return;
    const std::uint32_t restarts = mRestartRequests.load();
    const std::uint32_t resets = mResetRequests.load();
    if (restarts != state->restartsSeen) {
        state->restartsSeen = restarts;
        state->resetsSeen = resets;
        Restart(*state);
        // Nothing computed for this restart yet: readers see zeros, not the old curve.
        Published& cleared = mResults.Back();
        cleared.fftSize = 0;
        cleared.steps = 0;
        mResults.Publish();
        SetNewData(true);
    } else if (resets != state->resetsSeen) {
        state->resetsSeen = resets;
        std::fill(state->gaa.begin(), state->gaa.end(), 0.0);
        std::fill(state->gbb.begin(), state->gbb.end(), 0.0);
        std::fill(state->gabRe.begin(), state->gabRe.end(), 0.0);
        std::fill(state->gabIm.begin(), state->gabIm.end(), 0.0);
        state->steps = 0;
    }

    const std::uint32_t source = SourceChannel();
    const std::uint32_t response = ResponseChannel();
    if (buffers == nullptr || buffers->mBuffers == nullptr ||
        std::max(source, response) >= buffers->mNumberBuffers)
        return;
    const AudioBuffer& a = buffers->mBuffers[source];
    const AudioBuffer& b = buffers->mBuffers[response];
    if (a.mData == nullptr || b.mData == nullptr)
        return;
    const std::uint32_t count =
        std::min({frames, a.mDataByteSize / std::uint32_t(sizeof(float)),
                  b.mDataByteSize / std::uint32_t(sizeof(float)),
                  kRingFrames - kMaximumFFTSize - std::uint32_t(kMaximumDelay)});
    const float* channels[2] = {static_cast<const float*>(a.mData),
                                static_cast<const float*>(b.mData)};
    state->ring.store(std::span<const float* const>(channels, 2), count, state->writeTime);
    state->writeTime += count;
    CountAnalysed(count);

    // Every pair whose response frame is complete, oldest first.
    const auto responseEnd = [state](std::int64_t k) {
        return state->delay + k * std::int64_t(state->hop) + std::int64_t(state->fftSize);
    };
    while (responseEnd(state->nextFrame) <= state->writeTime) {
        const std::int64_t start = state->nextFrame * std::int64_t(state->hop);
        state->ring.fetchChannel(0, state->sourceFrame.Data(), state->fftSize, start);
        state->ring.fetchChannel(1, state->responseFrame.Data(), state->fftSize,
                                 start + state->delay);
        ++state->nextFrame;
        ComputeTransfer(*state, responseEnd(state->nextFrame) > state->writeTime);
    }
}

void KOTransferAnalyzer::ComputeTransfer(State& state, bool publish) {
    const KOComplexBuffer& sourceSpectrum = state.sourceBox.Forward(state.sourceFrame);
    const float* aRe = sourceSpectrum.Real().Data();
    const float* aIm = sourceSpectrum.Imag().Data();
    const KOComplexBuffer& responseSpectrum = state.responseBox.Forward(state.responseFrame);
    const float* bRe = responseSpectrum.Real().Data();
    const float* bIm = responseSpectrum.Imag().Data();
    const std::uint32_t bins = state.bins;
    double* gaa = state.gaa.data();
    double* gbb = state.gbb.data();
    double* gabRe = state.gabRe.data();
    double* gabIm = state.gabIm.data();
    for (std::uint32_t k = 0; k < bins; ++k) {
        const double ar = aRe[k], ai = aIm[k], br = bRe[k], bi = bIm[k];
        // conj(A)·B
        gabRe[k] += ar * br + ai * bi;
        gabIm[k] += ar * bi - ai * br;
        gaa[k] += ar * ar + ai * ai;
        gbb[k] += br * br + bi * bi;
    }
    ++state.steps;
    if (publish) {
        Published& out = mResults.Back();
        float* hRe = out.real.data();
        float* hIm = out.imag.data();
        float* coherence = out.coherence.data();
        for (std::uint32_t k = 0; k < bins; ++k) {
            const double autoProduct = gaa[k] * gbb[k];
            // A silent side (or a bin the window nulls) has no transfer function: 0, not NaN.
            if (!(gaa[k] > 0.0) || !(gbb[k] > 0.0) || !std::isfinite(autoProduct)) {
                hRe[k] = 0.0f;
                hIm[k] = 0.0f;
                coherence[k] = 0.0f;
                continue;
            }
            hRe[k] = float(gabRe[k] / gaa[k]);
            hIm[k] = float(gabIm[k] / gaa[k]);
            const double c = (gabRe[k] * gabRe[k] + gabIm[k] * gabIm[k]) / autoProduct;
            coherence[k] = !(c > 0.0) ? 0.0f : float(std::min(c, 1.0));
        }
        out.fftSize = state.fftSize;
        out.steps = state.steps;
        mResults.Publish();
        SetNewData(true);
    }
    const double lambda = std::pow(double(mRate.load(std::memory_order_relaxed)),
                                   double(state.fftSize) / double(kRateReferenceSize));
    if (lambda != 1.0) {
        for (std::uint32_t k = 0; k < bins; ++k) {
            gaa[k] *= lambda;
            gbb[k] *= lambda;
            gabRe[k] *= lambda;
            gabIm[k] *= lambda;
        }
    }
}

void KOTransferAnalyzer::CopyResults(KOTransferResults& results, bool withPhase) {
    const std::lock_guard lock(InstrumentMutex());
    SetNewData(false);
    mResults.TakeNewest();
    const Published& in = mResults.Front();
    if (!results.HasBuffers())
        return;
    KOFloatBuffer& magnitude = *results.magnitude();
    KOFloatBuffer& phase = *results.phase();
    KOFloatBuffer& coherence = *results.coherence();
    const std::uint32_t length = magnitude.Length();
    const bool usable = in.fftSize != 0 && in.fftSize == length && phase.Length() == length &&
                        coherence.Length() == length;
    if (!usable) {
        magnitude.Clear();
        coherence.Clear();
        if (withPhase)
            phase.Clear();
    } else {
        const std::uint32_t bins = length / 2;
        float* m = magnitude.Data();
        float* p = phase.Data();
        float* c = coherence.Data();
        for (std::uint32_t k = 0; k < bins; ++k) {
            m[k] = in.real[k] * in.real[k] + in.imag[k] * in.imag[k];
            c[k] = in.coherence[k];
        }
        if (withPhase)
            for (std::uint32_t k = 0; k < bins; ++k)
                p[k] = std::atan2(in.imag[k], in.real[k]);
    }
    magnitude.SetDecibel(false);
    phase.SetDecibel(true);
    coherence.SetDecibel(true);
    // A result published while we copied stays announced.
    if (mResults.HasFresh())
        SetNewData(true);
}

std::uint64_t KOTransferAnalyzer::Steps() {
    const std::lock_guard lock(InstrumentMutex());
    mResults.TakeNewest();
    return mResults.Front().fftSize != 0 ? mResults.Front().steps : 0;
}
