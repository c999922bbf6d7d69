#pragma once

#include "FilePlayerUnit.h"
#include "KOAuxGenerator.h"

#include <memory>

// The file player as an auxiliary input: a FilePlayerUnit played on the generator's output and
// handed to the engine as two channels, "File Player 1" and "File Player 2".
class KOAuxInFilePlayer : public KOAuxGenerator {
public:
    // `output` plays the file; null takes the default output unit. Throws CAException when the
    // output refuses the format.
    explicit KOAuxInFilePlayer(std::unique_ptr<koru::platform::AudioUnitInstance> output = nullptr);

    QString Name(int channel) const override;

    koru::FilePlayerUnit& Player() { return static_cast<koru::FilePlayerUnit&>(Source()); }
};
