#pragma once

#include <cstdint>

class KOInstrumentController;

// What an instrument reports about its life to the application controller, which implements
// this. Every call is made on the main thread except audioDeviceSampleRate, which the collector
// thread may reach through KOInstrumentController::currentSampleRate, so it must not wait for
// the main thread.
class KOInstrumentControllerDelegate {
public:
    virtual ~KOInstrumentControllerDelegate() = default;

    // The window is closing; the controller still answers dictionaryRepresentation with its
    // window counted as visible. Delete the controller later (deleteLater), not from here.
    virtual void removeInstrument(KOInstrumentController* controller) = 0;
    virtual void instrumentDidHide(KOInstrumentController* controller) = 0;
    virtual void instrumentDidUnhide(KOInstrumentController* controller) = 0;
    virtual void setCurrentInstrument(KOInstrumentController* controller) = 0;
    virtual void instrumentDidResignCurrent(KOInstrumentController* controller) = 0;
    virtual void shouldSetSigGenMuteStatus(bool mute) = 0;
    virtual void instrumentControllerDidChangeName(KOInstrumentController* controller) = 0;
    // The current device's nominal rate in Hz; any thread.
    virtual double audioDeviceSampleRate() = 0;
    virtual std::uint32_t preferredOutputDevice() = 0;
};
