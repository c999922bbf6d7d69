#include "SampleTimeRing.h"

#include <algorithm>
#include <bit>
#include <cstring>

namespace koru {

namespace {

std::uint32_t powerOfTwoAtLeast(std::uint32_t frames) {
    return std::bit_ceil(std::max<std::uint32_t>(frames, 1));
}

std::uint32_t samplesIn(const AudioBuffer& buffer) {
    return buffer.mData ? buffer.mDataByteSize / std::uint32_t(sizeof(float)) : 0;
}

} // namespace

SampleTimeRing::SampleTimeRing(std::uint32_t channels, std::uint32_t capacityFrames)
    : mChannels(channels), mCapacity(powerOfTwoAtLeast(capacityFrames)), mMask(mCapacity - 1),
      mSamples(std::size_t(channels) * mCapacity, 0.0f) {}

std::optional<SampleTimeRing::TimeBounds> SampleTimeRing::timeBounds() const {
    if (!mKnown) {
        return std::nullopt;
    }
    return TimeBounds{mStart, mEnd};
}

void SampleTimeRing::reset() {
    mKnown = false;
    mStart = 0;
    mEnd = 0;
}

void SampleTimeRing::advanceBounds(std::uint32_t frames, std::int64_t time) {
    const bool continues = mKnown && time == mEnd;
    if (!continues) {
        mStart = time;
    }
    mEnd = time + frames;
    mStart = std::max(mStart, mEnd - std::int64_t(mCapacity));
    mKnown = true;
}

// Writes the last min(frames, capacity) frames; samples past `available` are zeros.
void SampleTimeRing::storeChannel(std::uint32_t channel, const float* source,
                                  std::uint32_t available, std::uint32_t frames,
                                  std::int64_t time) {
    float* ring = channelData(channel);
    const std::uint32_t skip = frames > mCapacity ? frames - mCapacity : 0;
    std::uint32_t index = skip;
    while (index < frames) {
        const std::uint64_t position = std::uint64_t(time + index) & mMask;
        const std::uint32_t run =
            std::min<std::uint32_t>(frames - index, mCapacity - std::uint32_t(position));
        float* target = ring + position;
        const std::uint32_t copied = index < available ? std::min(run, available - index) : 0;
        if (copied > 0) {
            std::memcpy(target, source + index, copied * sizeof(float));
        }
        std::fill(target + copied, target + run, 0.0f);
        index += run;
    }
}

void SampleTimeRing::store(const AudioBufferList& list, std::uint32_t frames, std::int64_t time) {
    if (frames == 0) {
        return;
    }
    for (std::uint32_t channel = 0; channel < mChannels; ++channel) {
        const bool present = channel < list.mNumberBuffers && list.mBuffers != nullptr;
        const AudioBuffer* buffer = present ? &list.mBuffers[channel] : nullptr;
        const float* source = buffer ? static_cast<const float*>(buffer->mData) : nullptr;
        storeChannel(channel, source, buffer ? samplesIn(*buffer) : 0, frames, time);
    }
    advanceBounds(frames, time);
}

void SampleTimeRing::store(std::span<const float* const> sources, std::uint32_t frames,
                           std::int64_t time) {
    if (frames == 0) {
        return;
    }
    for (std::uint32_t channel = 0; channel < mChannels; ++channel) {
        const float* source = channel < sources.size() ? sources[channel] : nullptr;
        storeChannel(channel, source, source ? frames : 0, frames, time);
    }
    advanceBounds(frames, time);
}

void SampleTimeRing::fetchKnown(std::uint32_t channel, float* destination, std::uint32_t frames,
                                std::int64_t time) const {
    const std::int64_t from = std::max(time, mStart);
    const std::int64_t to = std::min(time + std::int64_t(frames), mEnd);
    if (from >= to) {
        std::fill(destination, destination + frames, 0.0f);
        return;
    }
    const auto lead = std::uint32_t(from - time);
    const auto tail = std::uint32_t(to - time);
    std::fill(destination, destination + lead, 0.0f);
    const float* ring = channelData(channel);
    for (std::uint32_t index = lead; index < tail;) {
        const std::uint64_t position = std::uint64_t(time + index) & mMask;
        const std::uint32_t run =
            std::min<std::uint32_t>(tail - index, mCapacity - std::uint32_t(position));
        std::memcpy(destination + index, ring + position, run * sizeof(float));
        index += run;
    }
    std::fill(destination + tail, destination + frames, 0.0f);
}

bool SampleTimeRing::fetchChannel(std::uint32_t channel, float* destination, std::uint32_t frames,
                                  std::int64_t time) const {
    if (destination == nullptr) {
        return false;
    }
    if (!mKnown || channel >= mChannels) {
        std::fill(destination, destination + frames, 0.0f);
        return false;
    }
    fetchKnown(channel, destination, frames, time);
    return true;
}

bool SampleTimeRing::fetch(AudioBufferList& list, std::uint32_t frames, std::int64_t time) const {
    if (list.mBuffers == nullptr) {
        return mKnown;
    }
    const std::uint32_t count = std::min(mChannels, list.mNumberBuffers);
    for (std::uint32_t channel = 0; channel < count; ++channel) {
        AudioBuffer& buffer = list.mBuffers[channel];
        const std::uint32_t length = std::min(frames, samplesIn(buffer));
        if (length > 0) {
            fetchChannel(channel, static_cast<float*>(buffer.mData), length, time);
        }
    }
    return mKnown;
}

bool SampleTimeRing::fetch(std::span<float* const> destinations, std::uint32_t frames,
                           std::int64_t time) const {
    const auto count = std::min<std::size_t>(mChannels, destinations.size());
    for (std::size_t channel = 0; channel < count; ++channel) {
        fetchChannel(std::uint32_t(channel), destinations[channel], frames, time);
    }
    return mKnown;
}

} // namespace koru
