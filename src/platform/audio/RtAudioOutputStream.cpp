#include "platform/audio/RtAudioOutputStream.h"

#include "platform/audio/AudioStreamError.h"
#include "platform/audio/RtAudioSupport.h"

#include <fmt/format.h>

#include <algorithm>

namespace koru::platform {

RtAudioOutputStream::RtAudioOutputStream(AudioBackend backend, const std::string& deviceName,
                                         int ordinal, std::uint32_t channels, double sampleRate,
                                         std::uint32_t requestedFrames, Source& source)
    : m_backend(backend), m_source(source), m_channels(channels), m_sampleRate(sampleRate),
      m_frames(requestedFrames), m_pointers(channels),
      m_watch(std::make_unique<RtAudioFailureWatch>(m_failed)) {
    std::lock_guard lock(rtAudioMutex());
    m_rt = makeRtAudio(backend);
    if (!m_rt)
        throw AudioStreamError(kAudioHardwareUnspecifiedError, "the sound system is not available");
    openRtAudioStream(*m_rt, deviceName, ordinal, false, channels, unsigned(sampleRate), &m_frames,
                      &RtAudioOutputStream::callback, this);
    m_sampleRate = double(m_rt->getStreamSampleRate());
}

RtAudioOutputStream::~RtAudioOutputStream() {
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
    }
}

bool RtAudioOutputStream::jackServerGone() const {
    // A JACK stream fails only when its server drops it, and then RtAudio is closing it.
    return m_backend == AudioBackend::Jack && (failed() || !jackServerRunning());
}

void RtAudioOutputStream::start() {
    std::lock_guard lock(rtAudioMutex());
    try {
        m_rt->startStream();
    } catch (const RtAudioError& error) {
        throw AudioStreamError(kAudioHardwareNotRunningError, error.getMessage());
    }
}

void RtAudioOutputStream::stop() noexcept {
    if (jackServerGone())
        return; // RtAudio is closing the stream itself
    std::lock_guard lock(rtAudioMutex());
    try {
        if (m_rt->isStreamRunning())
            m_rt->stopStream();
    } catch (const RtAudioError&) {
    }
}

int RtAudioOutputStream::callback(void* output, void*, unsigned int frames, double, unsigned int,
                                  void* userData) {
    auto* self = static_cast<RtAudioOutputStream*>(userData);
    self->m_watch->noteAudioThread();
    auto* out = static_cast<float*>(output);
    if (!out)
        return 0;
    for (std::uint32_t c = 0; c < self->m_channels; ++c)
        self->m_pointers[c] = out + std::size_t(c) * frames;
    if (self->failed()) {
        std::fill_n(out, std::size_t(self->m_channels) * frames, 0.0f);
        return 0;
    }
    self->m_source.pull(self->m_pointers.data(), self->m_channels, frames);
    return 0;
}

} // namespace koru::platform
