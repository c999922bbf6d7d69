#pragma once

// Internal to the RtAudio sources, which alone are compiled with RtAudio's flags.

#include "platform/audio/AudioBackend.h"
#include "platform/audio/CallbackGate.h"
#include "platform/audio/RtAudioSupport.h"

#include <atomic>
#include <memory>
#include <string>

namespace koru::platform {

// The RtAudio side of one open stream, capture or playback: opened, started and stopped under
// rtAudioMutex(), and let go without a race or a hang when its sound server dies under it.
class RtAudioStream {
public:
    // Opens the stream; *frames carries the requested period in and the granted one out. Throws
    // AudioStreamError with RtAudio's reason when it cannot.
    RtAudioStream(AudioBackend backend, std::atomic<bool>& failedFlag,
                  const std::string& deviceName, int ordinal, bool input, unsigned channels,
                  unsigned sampleRate, unsigned* frames, RtAudioCallback callback, void* userData);
    ~RtAudioStream();
    RtAudioStream(const RtAudioStream&) = delete;
    RtAudioStream& operator=(const RtAudioStream&) = delete;

    void start(); // throws AudioStreamError
    void stop() noexcept;
    bool running();
    // JACK streams run at the server's rate whatever was asked.
    double grantedSampleRate() const { return m_grantedSampleRate; }
    void noteAudioThread() noexcept { m_watch.noteAudioThread(); } // from the stream callback
    // What the stream callback returns: once the stream failed, the back-end is told to abort.
    // A dead PulseAudio stream otherwise calls back with errors as fast as the CPU allows, each
    // time taking the stream lock our stop needs, and can starve that stop for minutes. JACK
    // stops a stream on a thread of its own, racing its closing: its streams are left alone.
    int callbackResult() const noexcept {
        return m_backend != AudioBackend::Jack && m_failed.load(std::memory_order_acquire) ? 2 : 0;
    }

private:
    // What RtAudio is given as the callback's user data. It stays with the RtAudio object when
    // that is parked, whose thread may call on after the stream and its owner are gone.
    struct Callback {
        RtAudioCallback target;
        void* userData;
        int resultWhenGone;
        CallbackGate gate;
    };

    static int gatedCallback(void* output, void* input, unsigned int frames, double streamTime,
                             RtAudioStreamStatus status, void* context) noexcept;
    bool serverGone() const;

    AudioBackend m_backend;
    const std::atomic<bool>& m_failed;
    double m_grantedSampleRate = 0.0;
    RtAudioFailureWatch m_watch;
    // Before the RtAudio object, which may call back until it is closed.
    std::unique_ptr<Callback> m_callback;
    std::unique_ptr<RtAudio> m_rt;
};

} // namespace koru::platform
