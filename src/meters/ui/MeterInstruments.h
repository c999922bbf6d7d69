#pragma once

namespace koru {
class InstrumentRegistry;
// Adds the meter windows to the registry, as new instruments and from saved sessions.
void registerMeterInstruments(InstrumentRegistry& registry);
} // namespace koru
