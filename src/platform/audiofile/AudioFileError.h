#pragma once

#include <stdexcept>
#include <string>

namespace koru::platform {

// Why an audio file cannot be played. The message names the file and the cause in words a user
// can act on.
class AudioFileError : public std::runtime_error {
public:
    enum class Kind {
        Unreadable,  // missing, a folder, no permission, an I/O error
        Unsupported, // not audio, or audio in a coding no decoder here reads
        Damaged,     // cut short or inconsistent: its header promises audio that is not there
        NoAudio,     // a valid file without a single frame of sound
    };

    AudioFileError(Kind kind, const std::string& message)
        : std::runtime_error(message), mKind(kind) {}

    Kind kind() const { return mKind; }

private:
    Kind mKind;
};

} // namespace koru::platform
