#include "meters/KOGoniometerInstrument.h"

#include "zotools/ZOAudioInput.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

KOGoniometerInstrument::KOGoniometerInstrument() = default;

void KOGoniometerInstrument::Process(const AudioBufferList* buffers, std::uint32_t frames) {
    CountReceived(frames);
    const std::uint32_t a = ChannelA();
    const std::uint32_t b = ChannelB();
    if (buffers == nullptr || a >= buffers->mNumberBuffers || b >= buffers->mNumberBuffers) {
        return;
    }
    const AudioBuffer& bufferA = buffers->mBuffers[a];
    const AudioBuffer& bufferB = buffers->mBuffers[b];
    std::uint32_t count = std::min(frames, kFrames);
    count = std::min<std::uint32_t>(count, bufferA.mDataByteSize / sizeof(float));
    count = std::min<std::uint32_t>(count, bufferB.mDataByteSize / sizeof(float));
    if (bufferA.mData == nullptr || bufferB.mData == nullptr) {
        return;
    }
    Block& block = mBlocks.Back();
    std::memcpy(block.a.data(), bufferA.mData, count * sizeof(float));
    std::memcpy(block.b.data(), bufferB.mData, count * sizeof(float));
    block.frames = count;
    mBlocks.Publish();
    SetNewData(true);
    CountAnalysed(frames);
}

bool KOGoniometerInstrument::Collect(Block& out) {
    std::lock_guard lock(InstrumentMutex());
    SetNewData(false);
    if (!mBlocks.TakeNewest()) {
        return false;
    }
    out = mBlocks.Front();
    return true;
}

float KOGoniometerInstrument::Correlation(const float* a, const float* b, std::uint32_t count) {
    double ab = 0.0;
    double aa = 0.0;
    double bb = 0.0;
    for (std::uint32_t i = 0; i < count; ++i) {
        ab += double(a[i]) * b[i];
        aa += double(a[i]) * a[i];
        bb += double(b[i]) * b[i];
    }
    if (!(aa > 0.0) || !(bb > 0.0) || !std::isfinite(ab)) {
        return std::numeric_limits<float>::quiet_NaN();
    }
    return float(std::clamp(ab / std::sqrt(aa * bb), -1.0, 1.0));
}

float KOGoniometerInstrument::NextGain(float previous, float maxMagnitude) {
    const float m = std::max(maxMagnitude, 1e-4f);
    return std::min(1.0f / (1.2f * m), (previous + 0.02f) * 1.05f);
}

float KOGoniometerInstrument::DrawnGain(float gain) {
    const float stepped = std::floor(2.0f * gain) * 0.5f;
    return stepped > 0.0f ? stepped : gain;
}

float KOGoniometerInstrument::MaxMagnitude(const float* x, std::uint32_t count) {
    float largest = 0.0f;
    for (std::uint32_t i = 0; i < count; ++i) {
        largest = std::max(largest, std::fabs(x[i]));
    }
    return largest;
}

KOGoniometerInstrument::~KOGoniometerInstrument() {
    // Leave the engine before anything of ours goes, so no Process runs into a half-destroyed
    // instrument.
    if (ZOAudioInput* host = Host()) {
        host->RemoveClient(this);
        ZOInputClient::SetHost(nullptr);
    }
}
