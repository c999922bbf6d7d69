#pragma once

namespace koru {

class InstrumentRegistry;

// Registers the network send window with the instrument registry.
void registerNetAudioInstruments(InstrumentRegistry& registry);

} // namespace koru
