#pragma once

#include <cstdint>

// What the engine tells the object that owns it (the application's audio device).
class KOADOwner {
public:
    virtual ~KOADOwner() = default;
    // Main thread, after every reconfiguration (device change, rate, layout, list edit).
    virtual void inPropertyListener() = 0;
    // Audio thread: a client failed with `code`. Must neither block nor allocate; hand the code
    // to the main thread and call KOAD::ErrorHandled() there once it is dealt with. Until then
    // further failures are not reported again.
    virtual void errorHandling(std::uint64_t code) = 0;
};
