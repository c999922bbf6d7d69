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
      m_pointers(channels), m_pace(MonotonicClock::system(), sampleRate),
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
    m_pace = StreamPaceWatch(MonotonicClock::system(), m_sampleRate);
    m_started.store(true, std::memory_order_release);
    m_stream->start();
    if (!m_stream->running())
        throw AudioStreamError(kAudioHardwareNotRunningError,
                               reasonOr(takeLastRtAudioError(), "the stream did not start"));
}

void RtAudioInputStream::stop() noexcept {
    m_stream->stop();
    // A stopped stream is silent by intent, not stalled.
    m_started.store(false, std::memory_order_release);
}

void RtAudioInputStream::checkProgress(std::int64_t nowNanoseconds) noexcept {
    if (!m_started.load(std::memory_order_acquire) || failed()) {
        m_stall.reset();
        return;
    }
    if (m_stall.stalled(m_deliveries.load(std::memory_order_relaxed), nowNanoseconds))
        markFailed(kStoppedDelivering);
}

int RtAudioInputStream::callback(void*, void* input, unsigned int frames, double,
                                 unsigned int status, void* userData) {
    auto* self = static_cast<RtAudioInputStream*>(userData);
    if (!self->m_started.load(std::memory_order_acquire))
        return 0;
    self->m_stream->noteAudioThread();
    self->m_deliveries.fetch_add(1, std::memory_order_relaxed);
    self->deliver(static_cast<const float*>(input), frames, status);
    return self->m_stream->callbackResult();
}

void RtAudioInputStream::deliver(const float* input, unsigned int frames,
                                 unsigned int status) noexcept {
    if (status & RTAUDIO_INPUT_OVERFLOW)
        noteOverflow();
    // After an error the back-ends keep calling with stale buffers, as fast as the CPU allows
    // when the server is gone: nothing of that is audio, so nothing is handed on.
    if (failed()) {
        markFailed(kReadError);
        return;
    }
    if (input == nullptr) {
        markFailed(kReadError);
        return;
    }
    if (frames == 0 || frames > kMaxPeriod) {
        noteOverflow(); // a period we cannot take: a gap, counted like one
        return;
    }
    if (!m_pace.admit(frames)) {
        markFailed(kFasterThanRealTime);
        return;
    }
    for (std::uint32_t c = 0; c < m_channels; ++c)
        m_pointers[c] = input + std::size_t(c) * frames;
    m_sink.deliver(m_pointers.data(), m_channels, frames);
}

} // namespace koru::platform
