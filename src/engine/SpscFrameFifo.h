#pragma once

#include <atomic>
#include <cstdint>
#include <limits>
#include <vector>

namespace koru {

// A lock-free queue of two-channel float frames from one producer thread to one consumer thread.
// Positions count frames since construction (64 bits never wrap), so a position names the same
// frame on both sides: the producer can have everything it wrote so far dropped unread (a flush
// after a seek) without waiting for the consumer, which honours the request on its next read.
class SpscFrameFifo {
public:
    static constexpr std::uint32_t kChannels = 2;
    static constexpr std::uint64_t kNoLimit = std::numeric_limits<std::uint64_t>::max();

    // Allocates; `capacity` is rounded up to a power of two.
    explicit SpscFrameFifo(std::uint32_t capacity);
    SpscFrameFifo(const SpscFrameFifo&) = delete;
    SpscFrameFifo& operator=(const SpscFrameFifo&) = delete;

    std::uint32_t capacity() const { return mMask + 1; }

    // ---- producer ----
    // Room for frames now: what the consumer has not read yet, dropped or not, still occupies it.
    std::uint32_t writable() const;
    // Writes up to `frames` frames; returns how many fitted.
    std::uint32_t write(const float* const* channels, std::uint32_t frames);
    std::uint64_t writePosition() const { return mWrite.load(std::memory_order_relaxed); }
    // Everything written so far goes unread.
    void discardWritten();

    // ---- consumer ----
    // Reads up to `frames` frames, never the frame at `limit` or after it; returns how many.
    std::uint32_t read(float* const* channels, std::uint32_t frames,
                       std::uint64_t limit = kNoLimit);
    // Carries out a pending discard without reading.
    void honourDiscard();

    // ---- any thread ----
    // Where the consumer will read next, a pending discard counted as done.
    std::uint64_t readPosition() const;
    // Frames waiting to be read, a pending discard counted as done.
    std::uint64_t buffered() const;

private:
    std::uint64_t consumerPosition();

    std::vector<float> mData; // channel c's frame i at c × capacity + (i & mask)
    std::uint32_t mMask;
    alignas(64) std::atomic<std::uint64_t> mWrite{0};
    alignas(64) std::atomic<std::uint64_t> mRead{0};
    alignas(64) std::atomic<std::uint64_t> mDiscardBefore{0};
};

} // namespace koru
