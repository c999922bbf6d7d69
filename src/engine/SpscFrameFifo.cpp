#include "SpscFrameFifo.h"

#include <algorithm>
#include <bit>
#include <cstring>

namespace koru {

SpscFrameFifo::SpscFrameFifo(std::uint32_t capacity)
    : mData(std::size_t(std::bit_ceil(std::max(capacity, 2u))) * kChannels, 0.0f),
      mMask(std::bit_ceil(std::max(capacity, 2u)) - 1) {}

std::uint32_t SpscFrameFifo::writable() const {
    const std::uint64_t used =
        mWrite.load(std::memory_order_relaxed) - mRead.load(std::memory_order_acquire);
    return capacity() - std::uint32_t(used);
}

std::uint32_t SpscFrameFifo::write(const float* const* channels, std::uint32_t frames) {
    const std::uint64_t at = mWrite.load(std::memory_order_relaxed);
    const std::uint32_t count = std::min(frames, writable());
    const std::uint32_t start = std::uint32_t(at & mMask);
    const std::uint32_t first = std::min(count, capacity() - start);
    for (std::uint32_t c = 0; c < kChannels; ++c) {
        float* base = mData.data() + std::size_t(c) * capacity();
        std::memcpy(base + start, channels[c], first * sizeof(float));
        std::memcpy(base, channels[c] + first, (count - first) * sizeof(float));
    }
    mWrite.store(at + count, std::memory_order_release);
    return count;
}

void SpscFrameFifo::discardWritten() {
    mDiscardBefore.store(mWrite.load(std::memory_order_relaxed), std::memory_order_release);
}

std::uint64_t SpscFrameFifo::consumerPosition() {
    const std::uint64_t discard = mDiscardBefore.load(std::memory_order_acquire);
    const std::uint64_t at = mRead.load(std::memory_order_relaxed);
    if (discard > at) {
        mRead.store(discard, std::memory_order_release);
        return discard;
    }
    return at;
}

void SpscFrameFifo::honourDiscard() {
    consumerPosition();
}

std::uint32_t SpscFrameFifo::read(float* const* channels, std::uint32_t frames,
                                  std::uint64_t limit) {
    const std::uint64_t at = consumerPosition();
    const std::uint64_t end = std::min(mWrite.load(std::memory_order_acquire), limit);
    if (end <= at) {
        return 0;
    }
    const std::uint32_t count = std::uint32_t(std::min<std::uint64_t>(frames, end - at));
    const std::uint32_t start = std::uint32_t(at & mMask);
    const std::uint32_t first = std::min(count, capacity() - start);
    for (std::uint32_t c = 0; c < kChannels; ++c) {
        const float* base = mData.data() + std::size_t(c) * capacity();
        std::memcpy(channels[c], base + start, first * sizeof(float));
        std::memcpy(channels[c] + first, base, (count - first) * sizeof(float));
    }
    mRead.store(at + count, std::memory_order_release);
    return count;
}

std::uint64_t SpscFrameFifo::readPosition() const {
    return std::max(mRead.load(std::memory_order_acquire),
                    mDiscardBefore.load(std::memory_order_acquire));
}

std::uint64_t SpscFrameFifo::buffered() const {
    const std::uint64_t written = mWrite.load(std::memory_order_acquire);
    const std::uint64_t at = readPosition();
    return written > at ? written - at : 0;
}

} // namespace koru
