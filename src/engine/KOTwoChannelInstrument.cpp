#include "engine/KOTwoChannelInstrument.h"

void KOTwoChannelInstrument::SetNumberOfChannels(std::uint32_t count) {
    m_numberOfChannels.store(count, std::memory_order_relaxed);
    SetChannelA(ChannelA());
    SetChannelB(ChannelB());
}

void KOTwoChannelInstrument::ChannelsChanged(std::uint32_t position, std::uint32_t delta) {
    m_channelA.store(RemapChannel(ChannelA(), position, delta), std::memory_order_relaxed);
    m_channelB.store(RemapChannel(ChannelB(), position, delta), std::memory_order_relaxed);
}

void KOTwoChannelInstrument::SetChannelA(std::uint32_t ch) {
    m_channelA.store(ClampChannel(ch), std::memory_order_relaxed);
}

void KOTwoChannelInstrument::SetChannelB(std::uint32_t ch) {
    m_channelB.store(ClampChannel(ch), std::memory_order_relaxed);
}
