#include "platform/audio/RtAudioOutputStream.h"

#include "platform/audio/AudioStreamError.h"
#include "platform/audio/RtAudioStream.h"

#include <algorithm>

namespace koru::platform {

RtAudioOutputStream::RtAudioOutputStream(AudioBackend backend, const std::string& deviceName,
                                         int ordinal, std::uint32_t channels, double sampleRate,
                                         std::uint32_t requestedFrames, Source& source)
    : m_source(source), m_channels(channels), m_sampleRate(sampleRate), m_frames(requestedFrames),
      m_pointers(channels),
      m_stream(std::make_unique<RtAudioStream>(backend, m_failed, deviceName, ordinal, false,
                                               channels, unsigned(sampleRate), &m_frames,
                                               &RtAudioOutputStream::callback, this)) {
    m_sampleRate = m_stream->grantedSampleRate();
}

RtAudioOutputStream::~RtAudioOutputStream() = default;

void RtAudioOutputStream::start() {
    m_started.store(true, std::memory_order_release);
    m_stream->start();
}

void RtAudioOutputStream::stop() noexcept {
    m_stream->stop();
}

int RtAudioOutputStream::callback(void* output, void*, unsigned int frames, double, unsigned int,
                                  void* userData) {
    auto* self = static_cast<RtAudioOutputStream*>(userData);
    if (!self->m_started.load(std::memory_order_acquire))
        return 0;
    self->m_stream->noteAudioThread();
    auto* out = static_cast<float*>(output);
    if (!out)
        return self->m_stream->callbackResult();
    for (std::uint32_t c = 0; c < self->m_channels; ++c)
        self->m_pointers[c] = out + std::size_t(c) * frames;
    if (self->failed()) {
        std::fill_n(out, std::size_t(self->m_channels) * frames, 0.0f);
        return self->m_stream->callbackResult();
    }
    self->m_source.pull(self->m_pointers.data(), self->m_channels, frames);
    return 0;
}

} // namespace koru::platform
