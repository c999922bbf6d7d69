#include "platform/audio/RtAudioOutputStream.h"

#include "platform/audio/AudioStreamError.h"
#include "platform/audio/RtAudioSupport.h"

#include <fmt/format.h>

#include <algorithm>

namespace koru::platform {

RtAudioOutputStream::RtAudioOutputStream(AudioBackend backend, const std::string& deviceName,
                                         int ordinal, std::uint32_t channels, double sampleRate,
                                         std::uint32_t requestedFrames, Source& source)
    : m_source(source), m_channels(channels), m_sampleRate(sampleRate), m_frames(requestedFrames),
      m_pointers(channels), m_watch(std::make_unique<RtAudioFailureWatch>(m_failed)) {
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
    // PulseAudio's default of about two seconds of buffering fills the generators' tee ring in
    // bursts; a few periods keep it flowing evenly.
    options.numberOfBuffers = 4;
    options.streamName = "KORU";
    try {
        m_rt->openStream(&parameters, nullptr, RTAUDIO_FLOAT32, unsigned(sampleRate), &m_frames,
                         &RtAudioOutputStream::callback, this, &options,
                         &RtAudioFailureWatch::errorCallback);
    } catch (const RtAudioError& error) {
        throw AudioStreamError(kAudioDeviceUnsupportedFormatError, error.getMessage());
    }
    if (!m_rt->isStreamOpen()) {
        std::string reason = takeLastRtAudioError();
        throw AudioStreamError(kAudioDeviceUnsupportedFormatError,
                               reason.empty() ? "the stream did not open" : reason);
    }
    m_sampleRate = double(m_rt->getStreamSampleRate());
}

RtAudioOutputStream::~RtAudioOutputStream() {
    std::lock_guard lock(rtAudioMutex());
    try {
        if (m_rt->isStreamRunning())
            m_rt->stopStream();
        if (m_rt->isStreamOpen())
            m_rt->closeStream();
    } catch (const RtAudioError&) {
    }
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
