#pragma once

namespace koru::utility {

// Whatever knows the audio device's current sample rate (the audio device, once one is open).
// Lets the utility library ask for it without depending on the engine.
class SampleRateSource {
public:
    virtual ~SampleRateSource() = default;
    // Hz; 0 while no device is open.
    virtual double currentSampleRate() const = 0;
};

} // namespace koru::utility
