#pragma once

#include "KOAuxInput.h"

#include <atomic>
#include <cstdint>

// Two channels computed from two channels already in the engine's buffer list: the half-sum
// and the half-difference of A and B. Sources are engine channel indices; the engine tells the
// channel count on every reconfiguration and the indices are clamped to it. Setters run on the
// main thread beside Render, hence the atomics.
class KOAuxSummingChannel : public KOAuxInput {
public:
    std::uint32_t NumberOfChannels() const override { return 2; }
    void Start() override {}
    void Render(AudioBufferList* buffers, std::uint32_t first, std::uint32_t frames) override;
    QString Name(int channel) const override;

    void setChannelA(std::uint32_t index) { mChannelA.store(clamped(index)); }
    void setChannelB(std::uint32_t index) { mChannelB.store(clamped(index)); }
    // 0 means "not known yet": the indices are then kept as given.
    void setChannelCount(std::uint32_t count);
    std::uint32_t channelA() const { return mChannelA.load(); }
    std::uint32_t channelB() const { return mChannelB.load(); }
    std::uint32_t channelCount() const { return mChannelCount.load(); }

private:
    std::uint32_t clamped(std::uint32_t index) const;

    std::atomic<std::uint32_t> mChannelA{0};
    std::atomic<std::uint32_t> mChannelB{1};
    std::atomic<std::uint32_t> mChannelCount{0};
};
