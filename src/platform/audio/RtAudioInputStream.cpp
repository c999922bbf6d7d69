#include "platform/audio/RtAudioInputStream.h"

#include "platform/audio/AudioStreamError.h"
#include "platform/audio/RtAudioStream.h"

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
    : m_sink(sink), m_channels(channels), m_sampleRate(sampleRate), m_frames(requestedFrames),
      m_pointers(channels), m_silence(kMaxPeriod, 0.0f),
      m_stream(std::make_unique<RtAudioStream>(backend, m_failed, deviceName, ordinal, true,
                                               channels, unsigned(sampleRate), &m_frames,
                                               &RtAudioInputStream::callback, this)) {
    if (m_frames == 0 || m_frames > kMaxPeriod)
        throw AudioStreamError(kAudioDeviceUnsupportedFormatError,
                               fmt::format("the device granted {} frames per period", m_frames));
    m_sampleRate = m_stream->grantedSampleRate();
}

RtAudioInputStream::~RtAudioInputStream() = default;

void RtAudioInputStream::start() {
    m_stream->start();
    if (!m_stream->running())
        throw AudioStreamError(kAudioHardwareNotRunningError,
                               reasonOr(takeLastRtAudioError(), "the stream did not start"));
}

void RtAudioInputStream::stop() noexcept {
    m_stream->stop();
}

int RtAudioInputStream::callback(void*, void* input, unsigned int frames, double, unsigned int,
                                 void* userData) {
    auto* self = static_cast<RtAudioInputStream*>(userData);
    self->m_stream->noteAudioThread();
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
