#include "KOAuxInFilePlayer.h"

KOAuxInFilePlayer::KOAuxInFilePlayer(std::unique_ptr<koru::platform::AudioUnitInstance> output)
    : KOAuxGenerator(std::make_unique<koru::FilePlayerUnit>(), std::move(output)) {}

QString KOAuxInFilePlayer::Name(int channel) const {
    switch (channel) {
    case 0:
        return QStringLiteral("File Player 1");
    case 1:
        return QStringLiteral("File Player 2");
    default:
        return QStringLiteral("File Player");
    }
}
