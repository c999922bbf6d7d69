#include "engine/KOOneChannelInstrument.h"

void KOOneChannelInstrument::SetNumberOfChannels(std::uint32_t count) {
    m_numberOfChannels.store(count, std::memory_order_relaxed);
    SetChannel(Channel());
}

void KOOneChannelInstrument::ChannelsChanged(std::uint32_t position, std::uint32_t delta) {
    m_channel.store(RemapChannel(Channel(), position, delta), std::memory_order_relaxed);
}

void KOOneChannelInstrument::SetChannel(std::uint32_t ch) {
    m_channel.store(ClampChannel(ch), std::memory_order_relaxed);
}
