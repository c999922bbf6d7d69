#include "platform/audio/RtAudioStream.h"

#include "platform/audio/AudioStreamError.h"
#include "platform/audio/StreamFailureTable.h"

#include <mutex>
#include <vector>

namespace koru::platform {

RtAudioStream::RtAudioStream(AudioBackend backend, std::atomic<bool>& failedFlag,
                             const std::string& deviceName, int ordinal, bool input,
                             unsigned channels, unsigned sampleRate, unsigned* frames,
                             RtAudioCallback callback, void* userData)
    : m_backend(backend), m_failed(failedFlag), m_watch(failedFlag),
      // Only a parked stream calls on after its end, and it has failed: it is told what a failed
      // stream's callback would tell it.
      m_callback(
          std::make_unique<Callback>(callback, userData, backend == AudioBackend::Jack ? 0 : 2)) {
    // Errors RtAudio reports during our own calls are the caller's, never another stream's.
    const StreamFailureTable::CallScope call;
    std::lock_guard lock(rtAudioMutex());
    m_rt = makeRtAudio(backend);
    if (!m_rt)
        throw AudioStreamError(kAudioHardwareUnspecifiedError, "the sound system is not available");
    openRtAudioStream(*m_rt, deviceName, ordinal, input, channels, sampleRate, frames,
                      &RtAudioStream::gatedCallback, m_callback.get());
    m_grantedSampleRate = double(m_rt->getStreamSampleRate());
}

RtAudioStream::~RtAudioStream() {
    if (serverGone()) {
        // Closing a stream whose server is gone is not ours to do safely (see serverGone()): the
        // RtAudio object is parked where it stays reachable for the rest of the run, with
        // whatever thread is still using it.
        m_callback->gate.close();
        struct Parked {
            std::unique_ptr<Callback> callback;
            std::unique_ptr<RtAudio> rt;
        };
        static std::mutex abandonedMutex;
        static auto& abandoned = *new std::vector<Parked>;
        const std::lock_guard lock(abandonedMutex);
        abandoned.push_back({std::move(m_callback), std::move(m_rt)});
        return;
    }
    const StreamFailureTable::CallScope call;
    std::lock_guard lock(rtAudioMutex());
    try {
        if (m_rt->isStreamRunning())
            m_rt->stopStream();
        if (m_rt->isStreamOpen())
            m_rt->closeStream();
    } catch (const RtAudioError&) {
        // Closing a stream whose device vanished may complain; it is closed all the same.
    }
    m_callback->gate.close();
}

int RtAudioStream::gatedCallback(void* output, void* input, unsigned int frames, double streamTime,
                                 RtAudioStreamStatus status, void* context) noexcept {
    auto& callback = *static_cast<Callback*>(context);
    if (!callback.gate.enter())
        return callback.resultWhenGone;
    const int result =
        callback.target(output, input, frames, streamTime, status, callback.userData);
    callback.gate.leave();
    return result;
}

bool RtAudioStream::serverGone() const {
    const bool failed = m_failed.load(std::memory_order_acquire);
    switch (m_backend) {
    case AudioBackend::Jack:
        // A JACK stream fails only when its server drops it, and then RtAudio closes it on a
        // detached thread of its own, which may still be using the RtAudio object.
        return failed || !jackServerRunning();
    case AudioBackend::Pulse:
        // When the server dies, the client library can deadlock: its connection thread waits for
        // the block the stream thread holds, and the stream thread for the connection's lock,
        // holding the stream lock that stopping and closing need. Stopping would hang for good.
        return failed && !pulseServerAnswers();
    default:
        return false;
    }
}

void RtAudioStream::start() {
    const StreamFailureTable::CallScope call;
    std::lock_guard lock(rtAudioMutex());
    try {
        m_rt->startStream();
    } catch (const RtAudioError& error) {
        throw AudioStreamError(kAudioHardwareNotRunningError, error.getMessage());
    }
}

void RtAudioStream::stop() noexcept {
    if (serverGone())
        return; // nothing left to stop, and trying may hang
    const StreamFailureTable::CallScope call;
    std::lock_guard lock(rtAudioMutex());
    try {
        if (m_rt->isStreamRunning())
            m_rt->stopStream();
    } catch (const RtAudioError&) {
    }
}

bool RtAudioStream::running() {
    const StreamFailureTable::CallScope call;
    std::lock_guard lock(rtAudioMutex());
    return m_rt->isStreamRunning();
}

} // namespace koru::platform
