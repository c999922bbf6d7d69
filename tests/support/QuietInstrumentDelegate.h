#pragma once

// The application controller's side of an instrument window for tests that only need the
// device's rate: nothing is recorded. Header-only, for test programs linking the framework.

#include "engine/KOAudioDevice.h"
#include "framework/KOInstrumentControllerDelegate.h"

namespace koru::test {

class QuietDelegate : public KOInstrumentControllerDelegate {
public:
    void removeInstrument(KOInstrumentController*) override {}
    void instrumentDidHide(KOInstrumentController*) override {}
    void instrumentDidUnhide(KOInstrumentController*) override {}
    void setCurrentInstrument(KOInstrumentController*) override {}
    void instrumentDidResignCurrent(KOInstrumentController*) override {}
    void shouldSetSigGenMuteStatus(bool) override {}
    void instrumentControllerDidChangeName(KOInstrumentController*) override {}
    double audioDeviceSampleRate() override {
        return KOAudioDevice::sharedAudioDevice().nominalSampleRate();
    }
    std::uint32_t preferredOutputDevice() override { return 0; }
};

} // namespace koru::test
