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
    : m_sink(sink), m_channels(channels), m_sampleRate(sampleRate), m_frames(requestedFrames),
      m_pointers(channels), m_silence(kMaxPeriod, 0.0f),
      m_watch(std::make_unique<RtAudioFailureWatch>(m_failed)) {
    std::lock_guard lock(rtAudioMutex());
    m_rt = makeRtAudio(backend);
    if (!m_rt)
        throw AudioStreamError(kAudioHardwareUnspecifiedError, "the sound system is not available");
    const auto index = findRtAudioDevice(*m_rt, deviceName, ordinal);
    if (!index)
        throw AudioStreamError(kAudioHardwareBadDeviceError,
                               fmt::format("the device \"{}\" is gone", deviceName));
    RtAudio::StreamParameters parameters;
    parameters.deviceId = *index;
    parameters.nChannels = channels;
    RtAudio::StreamOptions options;
    options.flags = RTAUDIO_NONINTERLEAVED;
    options.numberOfBuffers = 4;
    options.streamName = "KORU";
    try {
        m_rt->openStream(nullptr, &parameters, RTAUDIO_FLOAT32, unsigned(sampleRate), &m_frames,
                         &RtAudioInputStream::callback, this, &options,
                         &RtAudioFailureWatch::errorCallback);
    } catch (const RtAudioError& error) {
        throw AudioStreamError(kAudioDeviceUnsupportedFormatError, error.getMessage());
    }
    if (!m_rt->isStreamOpen())
        throw AudioStreamError(kAudioDeviceUnsupportedFormatError,
                               reasonOr(takeLastRtAudioError(), "the stream did not open"));
    if (m_frames == 0 || m_frames > kMaxPeriod) {
        m_rt->closeStream();
        throw AudioStreamError(kAudioDeviceUnsupportedFormatError,
                               fmt::format("the device granted {} frames per period", m_frames));
    }
    // JACK streams run at the server's rate whatever was asked.
    m_sampleRate = double(m_rt->getStreamSampleRate());
}

RtAudioInputStream::~RtAudioInputStream() {
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
