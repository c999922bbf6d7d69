#include "engine/KOAuxInSignalGenerator.h"

KOAuxInSignalGenerator::KOAuxInSignalGenerator(
    std::unique_ptr<koru::platform::AudioUnitInstance> output)
    : KOAuxGenerator(std::make_unique<koru::SignalSynthesis>(), std::move(output)),
      mSynthesis(static_cast<koru::SignalSynthesis*>(&Source())) {
    // A new generator is silent on the speakers; the engine gets it at full scale all the same.
    SetVolume(0.0f);
}

QString KOAuxInSignalGenerator::Name(int channel) const {
    switch (channel) {
    case 0:
        return QStringLiteral("Signal Generator 1");
    case 1:
        return QStringLiteral("Signal Generator 2");
    default:
        return QStringLiteral("Signal Generator");
    }
}
