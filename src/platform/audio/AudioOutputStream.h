#pragma once

#include <atomic>
#include <cstdint>

namespace koru::platform {

// An open playback stream on one device; it pulls frames from its source on its own thread.
class AudioOutputStream {
public:
    class Source {
    public:
        virtual ~Source() = default;
        // Audio thread: fill `frames` frames of every channel; no allocation, locks or logging.
        virtual void pull(float* const* channels, std::uint32_t channelCount,
                          std::uint32_t frames) noexcept = 0;
    };

    virtual ~AudioOutputStream() = default; // stops first
    virtual void start() = 0;               // throws AudioStreamError
    virtual void stop() noexcept = 0;

    virtual std::uint32_t channels() const = 0;
    virtual double sampleRate() const = 0;
    virtual std::uint32_t periodFrames() const = 0;

    // This stream's own failure; it never concerns another stream.
    bool failed() const noexcept { return m_failed.load(std::memory_order_acquire); }
    void markFailed() noexcept { m_failed.store(true, std::memory_order_release); }

protected:
    std::atomic<bool> m_failed{false};
};

} // namespace koru::platform
