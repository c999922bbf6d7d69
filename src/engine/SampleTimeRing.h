#pragma once

#include "platform/audio/AudioTypes.h"

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace koru {

// The newest frames of several float32 channels, addressed by sample time. Storage is allocated
// once in the constructor; store and fetch never allocate, lock or throw, so both may run on an
// audio thread. There is no internal lock: the owner serialises access (the engine mutex, a
// generator's ring mutex, an instrument mutex).
//
// Stored range [start, end): a store that continues at end extends it and drops what falls out
// of the capacity; any other store (a gap, or going back in time) starts the range afresh, which
// is what a restarted source needs. A fetch writes zeros for the parts of the asked range that
// lie outside the stored range.
class SampleTimeRing {
public:
    struct TimeBounds {
        std::int64_t start = 0;
        std::int64_t end = 0;
    };

    // capacityFrames is rounded up to a power of two (at least 1). channels may be 0.
    SampleTimeRing(std::uint32_t channels, std::uint32_t capacityFrames);

    std::uint32_t channels() const { return mChannels; }
    std::uint32_t capacity() const { return mCapacity; }

    // Unknown until the first store, and again after reset().
    std::optional<TimeBounds> timeBounds() const;
    void reset();

    // Stores `frames` frames of every ring channel at `time`. Channel c reads buffer c of the
    // list; missing buffers, and buffers holding fewer than `frames` samples, contribute zeros.
    void store(const AudioBufferList& list, std::uint32_t frames, std::int64_t time);
    void store(std::span<const float* const> sources, std::uint32_t frames, std::int64_t time);

    // Reads [time, time + frames) into buffer c for c < min(channels, buffers); each buffer
    // receives at most its mDataByteSize / 4 samples. Answers false, having written zeros,
    // when nothing is stored yet.
    bool fetch(AudioBufferList& list, std::uint32_t frames, std::int64_t time) const;
    bool fetch(std::span<float* const> destinations, std::uint32_t frames, std::int64_t time) const;
    // One channel; false (and zeros) also for a channel outside the ring.
    bool fetchChannel(std::uint32_t channel, float* destination, std::uint32_t frames,
                      std::int64_t time) const;

private:
    void advanceBounds(std::uint32_t frames, std::int64_t time);
    void storeChannel(std::uint32_t channel, const float* source, std::uint32_t available,
                      std::uint32_t frames, std::int64_t time);
    void fetchKnown(std::uint32_t channel, float* destination, std::uint32_t frames,
                    std::int64_t time) const;
    float* channelData(std::uint32_t channel) {
        return mSamples.data() + std::size_t(channel) * mCapacity;
    }
    const float* channelData(std::uint32_t channel) const {
        return mSamples.data() + std::size_t(channel) * mCapacity;
    }

    std::uint32_t mChannels;
    std::uint32_t mCapacity;
    std::uint64_t mMask;
    std::vector<float> mSamples;
    bool mKnown = false;
    std::int64_t mStart = 0;
    std::int64_t mEnd = 0;
};

} // namespace koru
