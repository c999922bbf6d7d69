#pragma once

namespace koru {

class InstrumentRegistry;

// Registers the analyser windows with the registry under the names they save as "KOType":
// "KOFFTController" (the spectrum analyser) and "KOSpectralHistoryController". Also makes the
// spectrum models' archives readable. Call once at start-up, before anything reads the registry.
void registerAnalyserInstruments(InstrumentRegistry& registry);

} // namespace koru
