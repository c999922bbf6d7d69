#pragma once

#include "engine/KOInstrument.h"

#include <atomic>

// An instrument that compares two input channels, A and B.
class KOTwoChannelInstrument : public KOInstrument {
public:
    void SetNumberOfChannels(std::uint32_t count) override;
    void ChannelsChanged(std::uint32_t position, std::uint32_t delta) override;

    // Read on the audio thread: a stale selection may exceed the buffer list; check it there.
    std::uint32_t ChannelA() const { return m_channelA.load(std::memory_order_relaxed); }
    std::uint32_t ChannelB() const { return m_channelB.load(std::memory_order_relaxed); }
    void SetChannelA(std::uint32_t ch);
    void SetChannelB(std::uint32_t ch);

private:
    std::atomic<std::uint32_t> m_channelA{0};
    std::atomic<std::uint32_t> m_channelB{0};
};
