#pragma once

#include "platform/audio/AudioTypes.h"

#include <QString>

#include <cstdint>

// A virtual source of input channels: the engine appends its channels after the hardware
// channels of every buffer. Render runs on the engine's audio thread; everything else on the
// main thread.
class KOAuxInput {
public:
    KOAuxInput() = default;
    virtual ~KOAuxInput() = default;
    KOAuxInput(const KOAuxInput&) = delete;
    KOAuxInput& operator=(const KOAuxInput&) = delete;

    virtual std::uint32_t NumberOfChannels() const = 0;
    // The engine calls it right before it attaches the source, after SetEngineSampleRate. Throws
    // KOAuxInputException when the source cannot start; the engine then attaches nothing.
    virtual void Start() = 0;
    // Writes this source's channels into buffers first … first + NumberOfChannels() − 1. The
    // list may be shorter than that while an edit is on its way: check every index.
    virtual void Render(AudioBufferList* buffers, std::uint32_t first, std::uint32_t frames) = 0;
    virtual QString Name(int channel) const = 0;
    // The engine's sample rate, told before Start and on every reconfiguration: a source that
    // makes audio renders at it, so its frequencies read true whatever rate the speakers run at.
    // A source restarting for a new rate may throw KOAuxInputException; that failure is its own
    // (logged; its channels stay silent) and never stops the engine.
    virtual void SetEngineSampleRate(double) {}
};
