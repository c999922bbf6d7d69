#pragma once

#include "engine/KOInstrument.h"

class KOAD;

namespace koru {

// An instrument that keeps the engine in safe mode while it is attached (the recorder: no device
// change, auxiliary-input or summing-channel edit may pull the channel layout from under an open
// file). The engine hands the host over again on every reconfiguration, so safe mode is entered
// once per engine however often that happens, and left exactly once.
//
// SetHost and DetachFromHost run on the main thread (client registration and reconfiguration).
class SafeModeInstrument : public KOInstrument {
public:
    SafeModeInstrument() = default;
    // A backstop only: by now the concrete part is gone, so its destructor must detach first.
    ~SafeModeInstrument() override;

    // A null host changes nothing; a host that is no KOAD is stored without safe mode.
    void SetHost(ZOAudioInput* host) override;
    bool HoldsSafeMode() const { return mSafeModeEngine != nullptr; }

protected:
    // Removes the instrument from its engine, then leaves safe mode. Concrete destructors call it
    // before they release anything their Process uses; later calls do nothing.
    void DetachFromHost();

private:
    void LeaveSafeMode();

    KOAD* mSafeModeEngine = nullptr; // the engine whose safe mode this instrument holds
    bool mDetached = false;
};

} // namespace koru
