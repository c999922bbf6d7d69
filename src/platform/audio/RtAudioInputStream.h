#pragma once

#include "platform/audio/AudioBackend.h"
#include "platform/audio/AudioInputStream.h"
#include "platform/audio/StreamPaceWatch.h"

#include <atomic>
#include <memory>
#include <string>
#include <vector>

namespace koru::platform {

class RtAudioStream;

// A capture stream through RtAudio: Float32, non-interleaved, every input channel of the device.
class RtAudioInputStream final : public AudioInputStream {
public:
    // Opens the stream; throws AudioStreamError with RtAudio's reason when it cannot.
    RtAudioInputStream(AudioBackend backend, const std::string& deviceName, int ordinal,
                       std::uint32_t channels, double sampleRate, std::uint32_t requestedFrames,
                       Sink& sink);
    ~RtAudioInputStream() override;

    void start() override;
    void stop() noexcept override;
    std::uint32_t channels() const override { return m_channels; }
    double sampleRate() const override { return m_sampleRate; }
    std::uint32_t periodFrames() const override { return m_frames; }
    void checkProgress(std::int64_t nowNanoseconds) noexcept override;

private:
    static int callback(void* output, void* input, unsigned int frames, double streamTime,
                        unsigned int status, void* userData);
    void deliver(const float* input, unsigned int frames, unsigned int status) noexcept;

    Sink& m_sink;
    std::uint32_t m_channels;
    double m_sampleRate;
    unsigned int m_frames;
    std::vector<const float*> m_pointers;
    StreamPaceWatch m_pace;
    StreamStallWatch m_stall;                   // main thread
    std::atomic<std::uint64_t> m_deliveries{0}; // callbacks, counted on the audio thread
    // Set before the back-end is told to start, read first by every callback: the back-end may
    // check its running state without its lock, so this publishes the stream to the audio thread.
    // Declared before the stream, which may call back as soon as it is open.
    std::atomic<bool> m_started{false};
    std::unique_ptr<RtAudioStream> m_stream;
};

} // namespace koru::platform
