#include "KOAuxInNetReceive.h"

KOAuxInNetReceive::KOAuxInNetReceive(std::unique_ptr<koru::platform::AudioUnitInstance> output)
    : KOAuxGenerator(std::make_unique<koru::netaudio::NetReceiveUnit>(), std::move(output)) {}

QString KOAuxInNetReceive::Name(int channel) const {
    switch (channel) {
    case 0:
        return QStringLiteral("Net Receive 1");
    case 1:
        return QStringLiteral("Net Receive 2");
    default:
        return QStringLiteral("Net Receive");
    }
}
