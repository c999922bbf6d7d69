#pragma once

#include "platform/audio/AudioBackend.h"
#include "platform/audio/AudioOutputStream.h"

#include <memory>
#include <string>
#include <vector>

namespace koru::platform {

class RtAudioStream;

// A playback stream through RtAudio: Float32, non-interleaved.
class RtAudioOutputStream final : public AudioOutputStream {
public:
    // Opens the stream; throws AudioStreamError with RtAudio's reason when it cannot.
    RtAudioOutputStream(AudioBackend backend, const std::string& deviceName, int ordinal,
                        std::uint32_t channels, double sampleRate, std::uint32_t requestedFrames,
                        Source& source);
    ~RtAudioOutputStream() override;

    void start() override;
    void stop() noexcept override;
    std::uint32_t channels() const override { return m_channels; }
    double sampleRate() const override { return m_sampleRate; }
    std::uint32_t periodFrames() const override { return m_frames; }

private:
    static int callback(void* output, void* input, unsigned int frames, double streamTime,
                        unsigned int status, void* userData);

    Source& m_source;
    std::uint32_t m_channels;
    double m_sampleRate;
    unsigned int m_frames;
    std::vector<float*> m_pointers;
    std::unique_ptr<RtAudioStream> m_stream;
};

} // namespace koru::platform
