#include "meters/KOOscilloscopeInstrument.h"

#include "zotools/ZOAudioInput.h"

#include <algorithm>
#include <cmath>
#include <cstring>

KOOscilloscopeInstrument::KOOscilloscopeInstrument()
    : mCaptureA(kCapacity, 0.0f), mCaptureB(kCapacity, 0.0f) {}

std::uint32_t KOOscilloscopeInstrument::ClampLength(std::uint32_t length) {
    return std::clamp(length, kMinLength, kCapacity);
}

void KOOscilloscopeInstrument::Process(const AudioBufferList* buffers, std::uint32_t frames) {
    CountReceived(frames);
    const std::uint32_t a = ChannelA();
    const std::uint32_t b = ChannelB();
    if (buffers == nullptr || a >= buffers->mNumberBuffers || b >= buffers->mNumberBuffers) {
        mHavePrevious = false;
        return;
    }
    const AudioBuffer& bufferA = buffers->mBuffers[a];
    const AudioBuffer& bufferB = buffers->mBuffers[b];
    if (bufferA.mData == nullptr || bufferB.mData == nullptr) {
        mHavePrevious = false;
        return;
    }
    std::uint32_t n = frames;
    n = std::min<std::uint32_t>(n, bufferA.mDataByteSize / sizeof(float));
    n = std::min<std::uint32_t>(n, bufferB.mDataByteSize / sizeof(float));
    if (n == 0) {
        return;
    }
    const auto* xa = static_cast<const float*>(bufferA.mData);
    const auto* xb = static_cast<const float*>(bufferB.mData);
    const float* trigger = TriggerChannel() == 0 ? xa : xb;
    const float level = TriggerLevel();
    // The last sample off the level before this buffer; at the very start the first sample
    // stands for it, so index 0 of the first buffer never triggers.
    const float previous = mHavePrevious ? mPrevious : trigger[0];
    mPrevious = previous;
    mHavePrevious = true;
    for (std::uint32_t i = n; i-- > 0;) {
        if (trigger[i] != level) {
            mPrevious = trigger[i];
            break;
        }
    }
    CountAnalysed(frames);

    if (mComplete.load(std::memory_order_acquire)) {
        return; // held until the collector takes it
    }
    std::uint32_t start = 0;
    if (!mTriggered) {
        // Samples exactly at the level are stepped over: a signal that rises through it
        // (below, at, above) triggers at its first sample above, one that only touches it
        // (below, at, below) does not.
        float before = previous;
        std::uint32_t k = 0;
        for (; k < n; ++k) {
            if (before < level && level < trigger[k]) {
                break;
            }
            if (trigger[k] != level) {
                before = trigger[k];
            }
        }
        if (k == n) {
            return;
        }
        mTriggered = true;
        mWrite = 0;
        start = k;
    }
    const std::uint32_t remaining = mLength > mWrite ? mLength - mWrite : 0;
    const std::uint32_t count = std::min(remaining, n - start);
    if (count == 0) {
        mTriggered = false;
        mWrite = 0;
        return;
    }
    std::memcpy(mCaptureA.data() + mWrite, xa + start, count * sizeof(float));
    std::memcpy(mCaptureB.data() + mWrite, xb + start, count * sizeof(float));
    mWrite += count;
    if (mWrite >= mLength) {
        mTriggered = false;
        mWrite = 0;
        mComplete.store(true, std::memory_order_release);
        SetNewData(true);
    }
}

void KOOscilloscopeInstrument::Resample(const std::vector<float>& snapshot, float* view,
                                        std::uint32_t count) {
    if (view == nullptr || count == 0) {
        return;
    }
    const std::size_t m = snapshot.size();
    if (m == 0) {
        std::fill(view, view + count, 0.0f);
        return;
    }
    if (count == 1) {
        view[0] = snapshot[0];
        return;
    }
    const double step = double(m - 1) / double(count - 1);
    for (std::uint32_t i = 0; i < count; ++i) {
        const double position = std::min(double(i) * step, double(m - 1));
        const auto lower = std::size_t(position);
        const std::size_t upper = std::min(lower + 1, m - 1);
        const double fraction = position - double(lower);
        view[i] = float(snapshot[lower] + (snapshot[upper] - snapshot[lower]) * fraction);
    }
}

bool KOOscilloscopeInstrument::TakeSnapshot(float* viewA, float* viewB, std::uint32_t count,
                                            std::uint32_t nextLength) {
    std::lock_guard lock(InstrumentMutex());
    const bool fresh = mComplete.load(std::memory_order_acquire);
    if (fresh) {
        mSnapshotA.assign(mCaptureA.begin(), mCaptureA.begin() + mLength);
        mSnapshotB.assign(mCaptureB.begin(), mCaptureB.begin() + mLength);
        mLength = ClampLength(nextLength);
        SetNewData(false);
        mComplete.store(false, std::memory_order_release);
    }
    Resample(mSnapshotA, viewA, count);
    Resample(mSnapshotB, viewB, count);
    return fresh;
}

KOOscilloscopeInstrument::~KOOscilloscopeInstrument() {
    // Leave the engine before anything of ours goes, so no Process runs into a half-destroyed
    // instrument.
    if (ZOAudioInput* host = Host()) {
        host->RemoveClient(this);
        ZOInputClient::SetHost(nullptr);
    }
}
