#pragma once

#include "platform/audio/AudioTypes.h"

#include <stdexcept>
#include <string>

namespace koru::platform {

// A stream that could not be opened or started: the text says why, the status is what the unit
// answers its caller with.
class AudioStreamError : public std::runtime_error {
public:
    AudioStreamError(OSStatus status, const std::string& what)
        : std::runtime_error(what), m_status(status) {}
    OSStatus status() const { return m_status; }

private:
    OSStatus m_status;
};

} // namespace koru::platform
