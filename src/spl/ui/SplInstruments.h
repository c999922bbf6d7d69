#pragma once

namespace koru {

class InstrumentRegistry;

// Registers the SPL meter ("KOSplController") with the registry. Call once at start-up.
void registerSplInstruments(InstrumentRegistry& registry);

} // namespace koru
