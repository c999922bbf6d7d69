#pragma once

#include "NetReceiveUnit.h"

#include "engine/KOAuxGenerator.h"

#include <memory>

// The network receiver as an auxiliary input: a NetReceiveUnit played on the generator's output
// and handed to the engine as two channels, "Net Receive 1" and "Net Receive 2".
class KOAuxInNetReceive : public KOAuxGenerator {
public:
    // `output` plays the stream; null takes the default output unit. Throws CAException when the
    // output refuses the format.
    explicit KOAuxInNetReceive(std::unique_ptr<koru::platform::AudioUnitInstance> output = nullptr);

    QString Name(int channel) const override;

    koru::netaudio::NetReceiveUnit& Receiver() {
        return static_cast<koru::netaudio::NetReceiveUnit&>(Source());
    }
};
