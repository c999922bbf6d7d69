#include "KOAuxSummingChannel.h"

#include <algorithm>
#include <cstring>

namespace {

std::uint32_t samplesIn(const AudioBuffer& buffer) {
    return buffer.mData ? buffer.mDataByteSize / std::uint32_t(sizeof(float)) : 0;
}

} // namespace

std::uint32_t KOAuxSummingChannel::clamped(std::uint32_t index) const {
    const std::uint32_t count = mChannelCount.load();
    return count == 0 ? index : std::min(index, count - 1);
}

void KOAuxSummingChannel::setChannelCount(std::uint32_t count) {
    mChannelCount.store(count);
    if (count == 0) {
        return;
    }
    mChannelA.store(std::min(mChannelA.load(), count - 1));
    mChannelB.store(std::min(mChannelB.load(), count - 1));
}

QString KOAuxSummingChannel::Name(int channel) const {
    switch (channel) {
    case 0:
        return QStringLiteral(" + ");
    case 1:
        return QStringLiteral(" - ");
    default:
        return QStringLiteral(" ");
    }
}

void KOAuxSummingChannel::Render(AudioBufferList* buffers, std::uint32_t first,
                                 std::uint32_t frames) {
    if (buffers == nullptr || buffers->mBuffers == nullptr) {
        return;
    }
    const std::uint32_t count = buffers->mNumberBuffers;
    if (first >= count || count - first < 2) {
        return;
    }
    AudioBuffer& sum = buffers->mBuffers[first];
    AudioBuffer& difference = buffers->mBuffers[first + 1];
    const std::uint32_t a = mChannelA.load(std::memory_order_relaxed);
    const std::uint32_t b = mChannelB.load(std::memory_order_relaxed);
    std::uint32_t n = std::min({frames, samplesIn(sum), samplesIn(difference)});
    if (a >= count || b >= count) {
        // Sources restored before the engine told the channel count: silence, not stray memory.
        std::memset(sum.mData, 0, n * sizeof(float));
        std::memset(difference.mData, 0, n * sizeof(float));
        return;
    }
    n = std::min({n, samplesIn(buffers->mBuffers[a]), samplesIn(buffers->mBuffers[b])});
    const float* sourceA = static_cast<const float*>(buffers->mBuffers[a].mData);
    const float* sourceB = static_cast<const float*>(buffers->mBuffers[b].mData);
    auto* plus = static_cast<float*>(sum.mData);
    auto* minus = static_cast<float*>(difference.mData);
    for (std::uint32_t i = 0; i < n; ++i) {
        const float x = sourceA[i];
        const float y = sourceB[i];
        plus[i] = 0.5f * (x + y);
        minus[i] = 0.5f * (x - y);
    }
}
