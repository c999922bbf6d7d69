#pragma once

// Internal to the RtAudio sources, which alone are compiled with RtAudio's flags.

#include "platform/audio/AudioBackend.h"

#include <rtaudio/RtAudio.h>

#include <atomic>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

namespace koru::platform {

// Every RtAudio call of the process runs under this mutex: its PulseAudio back-end keeps the
// device table in a process-wide static that each enumeration rebuilds and each open reads.
// Lock order: DeviceRegistry's mutex is never taken while this one is held.
std::mutex& rtAudioMutex();

// A fresh RtAudio on the back-end's API, warnings off; null for the virtual back-end or when
// the library lacks the API. Call with rtAudioMutex() held.
std::unique_ptr<RtAudio> makeRtAudio(AudioBackend backend);

// Opens a Float32 non-interleaved stream on the device (input or output side). The device is
// looked up again right before, and the whole open is tried up to three times: a busy JACK
// server sometimes refuses the short-lived clients RtAudio uses to list ports. Throws
// AudioStreamError with RtAudio's reason. Mutex held.
void openRtAudioStream(RtAudio& rt, const std::string& name, int ordinal, bool input,
                       unsigned channels, unsigned sampleRate, unsigned* frames,
                       RtAudioCallback callback, void* userData);

// The last error text RtAudio reported on the calling thread (opening, starting).
std::string takeLastRtAudioError();

// Ties an open RtAudio stream to its failure flag through StreamFailureTable::shared(): RtAudio's
// error callback carries no context, so a stream notes its audio thread on each callback.
class RtAudioFailureWatch {
public:
    explicit RtAudioFailureWatch(std::atomic<bool>& failedFlag);
    ~RtAudioFailureWatch();
    RtAudioFailureWatch(const RtAudioFailureWatch&) = delete;
    RtAudioFailureWatch& operator=(const RtAudioFailureWatch&) = delete;

    void noteAudioThread() noexcept; // from the stream callback
    static void errorCallback(RtAudioError::Type type, const std::string& text);

private:
    int m_slot = -1;
};

} // namespace koru::platform
