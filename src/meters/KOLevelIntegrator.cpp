#include "meters/KOLevelIntegrator.h"

#include "engine/KOAD.h"

#include "zotools/ZOAudioInput.h"

#include <algorithm>
#include <cmath>

KOLevelIntegrator::KOLevelIntegrator() : mSquares(kRingFrames, 0.0f) {
    SetHost(nullptr);
}

void KOLevelIntegrator::SetHost(ZOAudioInput* host) {
    KOOneChannelInstrument::SetHost(host);
    const double rate = HostSampleRate();
    const double frames = HostBufferFrames();
    mPeakFall = float(kPeakFallPerSecond * frames / rate);
    mRMSFall = float(kRMSFallPerSecond * frames / rate);
    SetWindowSeconds(kDefaultWindowSeconds);
}

void KOLevelIntegrator::SetWindowFrames(std::uint32_t frames) {
    mWindowRequest.store(std::clamp(frames, kMinWindow, kRingFrames), std::memory_order_relaxed);
}

void KOLevelIntegrator::SetWindowSeconds(double seconds) {
    const double frames = std::max(0.0, seconds) * HostSampleRate();
    SetWindowFrames(frames >= double(kRingFrames) ? kRingFrames : std::uint32_t(frames));
}

void KOLevelIntegrator::ApplyWindow(std::uint32_t window) {
    // Summed afresh once per change, so the running sum carries no drift from the old window.
    double sum = 0.0;
    for (std::uint32_t i = 1; i <= window; ++i) {
        sum += mSquares[(mRingPosition + kRingFrames - i) % kRingFrames];
    }
    mSum = sum;
    mWindow = window;
}

void KOLevelIntegrator::Process(const AudioBufferList* buffers, std::uint32_t frames) {
    CountReceived(frames);
    const std::uint32_t channel = Channel();
    if (buffers == nullptr || channel >= buffers->mNumberBuffers ||
        buffers->mBuffers[channel].mData == nullptr) {
        return;
    }
    const AudioBuffer& buffer = buffers->mBuffers[channel];
    const std::uint32_t n = std::min<std::uint32_t>(frames, buffer.mDataByteSize / sizeof(float));
    const std::uint32_t window = mWindowRequest.load(std::memory_order_relaxed);
    if (window != mWindow) {
        ApplyWindow(window);
    }
    const auto* x = static_cast<const float*>(buffer.mData);
    float peak = 0.0f;
    for (std::uint32_t i = 0; i < n; ++i) {
        const float square = x[i] * x[i];
        const std::uint32_t leaving = (mRingPosition + kRingFrames - mWindow) % kRingFrames;
        mSum += double(square) - double(mSquares[leaving]);
        mSquares[mRingPosition] = square;
        mRingPosition = (mRingPosition + 1) % kRingFrames;
        peak = std::max(peak, std::fabs(x[i]));
    }
    Linear& levels = mLevels.Back();
    levels.rms = float(std::sqrt(std::max(0.0, mSum) / double(mWindow)));
    levels.peak = peak;
    mLevels.Publish();
    SetNewData(true);
    CountAnalysed(frames);
}

bool KOLevelIntegrator::Collect(Levels& out) {
    std::lock_guard lock(InstrumentMutex());
    SetNewData(false);
    if (!mLevels.TakeNewest()) {
        return false;
    }
    const Linear& linear = mLevels.Front();
    const float rms = std::max(KOAD::ToDecibels(linear.rms), mHeld.rms);
    const float peak = std::max(KOAD::ToDecibels(linear.peak), mHeld.peak);
    out = Levels{rms, peak};
    // Held values fall without a floor of their own; what is returned never goes below the
    // engine's floor because the fresh value never does.
    mHeld.rms = rms - mRMSFall;
    mHeld.peak = peak - mPeakFall;
    return true;
}

KOLevelIntegrator::~KOLevelIntegrator() {
    // Leave the engine before anything of ours goes, so no Process runs into a half-destroyed
    // instrument.
    if (ZOAudioInput* host = Host()) {
        host->RemoveClient(this);
        ZOInputClient::SetHost(nullptr);
    }
}
