#pragma once

#include "platform/audio/AudioTypes.h"

#include <exception>

// A failed audio-unit or hardware call, carrying its status. The engine also throws it with
// codes of its own: 1 (no memory for the buffer list) and 'sfmd' (safe mode).
class CAException : public std::exception {
public:
    explicit CAException(OSStatus status) : m_status(status) {}
    OSStatus GetError() const { return m_status; }
    const char* what() const noexcept override { return "CAException"; }

private:
    OSStatus m_status;
};
