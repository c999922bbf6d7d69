#pragma once

namespace koru {

class InstrumentRegistry;

// Registers the SPL meter ("KOSplController") with the registry, and the SPL logs window for the
// Window menu. Call once at start-up.
void registerSplInstruments(InstrumentRegistry& registry);

} // namespace koru
