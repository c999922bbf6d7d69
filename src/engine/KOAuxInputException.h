#pragma once

#include "platform/audio/AudioTypes.h"

#include <stdexcept>
#include <string>

// An auxiliary input that could not start. The text names the cause in words a user can read;
// the status is what the platform answered.
class KOAuxInputException : public std::runtime_error {
public:
    KOAuxInputException(OSStatus status, const std::string& what)
        : std::runtime_error(what), mStatus(status) {}
    OSStatus Status() const { return mStatus; }

private:
    OSStatus mStatus;
};
