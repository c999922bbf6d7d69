#pragma once

#include "engine/KOInstrument.h"

#include <atomic>

// An instrument that watches one input channel.
class KOOneChannelInstrument : public KOInstrument {
public:
    void SetNumberOfChannels(std::uint32_t count) override;
    void ChannelsChanged(std::uint32_t position, std::uint32_t delta) override;

    // Read on the audio thread: a stale selection may exceed the buffer list; check it there.
    std::uint32_t Channel() const { return m_channel.load(std::memory_order_relaxed); }
    void SetChannel(std::uint32_t ch);

private:
    std::atomic<std::uint32_t> m_channel{0};
};
