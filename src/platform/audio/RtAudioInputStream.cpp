#include "platform/audio/RtAudioInputStream.h"

#include "platform/audio/AudioStreamError.h"
#include "platform/audio/RtAudioSupport.h"

#include <fmt/format.h>

namespace koru::platform {

namespace {

constexpr unsigned kMaxPeriod = 16384;

std::string reasonOr(std::string reason, const char* fallback) {
    return reason.empty() ? std::string(fallback) : reason;
}

} // namespace

RtAudioInputStream::RtAudioInputStream(AudioBackend backend, const std::string& deviceName,
                                       int ordinal, std::uint32_t channels, double sampleRate,
                                       std::uint32_t requestedFrames, Sink& sink)
    : m_backend(backend), m_sink(sink), m_channels(channels), m_sampleRate(sampleRate),
      m_frames(requestedFrames), m_pointers(channels), m_silence(kMaxPeriod, 0.0f),
      m_watch(std::make_unique<RtAudioFailureWatch>(m_failed)) {
    std::lock_guard lock(rtAudioMutex());
    m_rt = makeRtAudio(backend);
    if (!m_rt)
        throw AudioStreamError(kAudioHardwareUnspecifiedError, "the sound system is not available");
    openRtAudioStream(*m_rt, deviceName, ordinal, true, channels, unsigned(sampleRate), &m_frames,
                      &RtAudioInputStream::callback, this);
    if (m_frames == 0 || m_frames > kMaxPeriod) {
        m_rt->closeStream();
        throw AudioStreamError(kAudioDeviceUnsupportedFormatError,
                               fmt::format("the device granted {} frames per period", m_frames));
    }
    // JACK streams run at the server's rate whatever was asked.
    m_sampleRate = double(m_rt->getStreamSampleRate());
}

RtAudioInputStream::~RtAudioInputStream() {
    if (jackServerGone()) {
        // RtAudio closes a stream the JACK server dropped on a detached thread of its own, which
        // may still be using the RtAudio object: leave it to that thread rather than race it.
        (void)m_rt.release();
        return;
    }
    std::lock_guard lock(rtAudioMutex());
    try {
        if (m_rt->isStreamRunning())
            m_rt->stopStream();
        if (m_rt->isStreamOpen())
            m_rt->closeStream();
    } catch (const RtAudioError&) {
        // Closing a stream whose device vanished may complain; it is closed all the same.
    }
}

bool RtAudioInputStream::jackServerGone() const {
    // A JACK stream fails only when its server drops it, and then RtAudio is closing it.
    return m_backend == AudioBackend::Jack && (failed() || !jackServerRunning());
}

void RtAudioInputStream::start() {
    std::lock_guard lock(rtAudioMutex());
    try {
        m_rt->startStream();
    } catch (const RtAudioError& error) {
        throw AudioStreamError(kAudioHardwareNotRunningError, error.getMessage());
    }
    if (!m_rt->isStreamRunning())
        throw AudioStreamError(kAudioHardwareNotRunningError,
                               reasonOr(takeLastRtAudioError(), "the stream did not start"));
}

void RtAudioInputStream::stop() noexcept {
    if (jackServerGone())
        return; // RtAudio is closing the stream itself
    std::lock_guard lock(rtAudioMutex());
    try {
        if (m_rt->isStreamRunning())
            m_rt->stopStream();
    } catch (const RtAudioError&) {
    }
}

int RtAudioInputStream::callback(void*, void* input, unsigned int frames, double, unsigned int,
                                 void* userData) {
    auto* self = static_cast<RtAudioInputStream*>(userData);
    self->m_watch->noteAudioThread();
    self->deliver(static_cast<const float*>(input), frames);
    return 0;
}

void RtAudioInputStream::deliver(const float* input, unsigned int frames) noexcept {
    if (frames == 0 || frames > kMaxPeriod)
        return;
    // After a read error the back-ends keep calling with stale buffers: hand on silence.
    const bool silent = input == nullptr || failed();
    for (std::uint32_t c = 0; c < m_channels; ++c)
        m_pointers[c] = silent ? m_silence.data() : input + std::size_t(c) * frames;
    m_sink.deliver(m_pointers.data(), m_channels, frames);
}

} // namespace koru::platform
