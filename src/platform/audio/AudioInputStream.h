#pragma once

#include <atomic>
#include <cstdint>

namespace koru::platform {

// An open capture stream on one device. Streams deliver on their own thread (the manual device:
// on the pumping thread) in whatever period the device grants.
class AudioInputStream {
public:
    // Receives the device's frames: one Float32 array per device channel.
    class Sink {
    public:
        virtual ~Sink() = default;
        // Audio thread: must not allocate, lock or log.
        virtual void deliver(const float* const* channels, std::uint32_t channelCount,
                             std::uint32_t frames) noexcept = 0;
    };

    virtual ~AudioInputStream() = default; // stops first
    virtual void start() = 0;              // throws AudioStreamError
    virtual void stop() noexcept = 0;      // waits until no delivery runs

    virtual std::uint32_t channels() const = 0;
    virtual double sampleRate() const = 0;
    virtual std::uint32_t periodFrames() const = 0; // what the device granted

    // Set from any thread when the device stops working under the stream (read error, unplug);
    // from then on a still-running stream delivers silence. Main picks it up and switches over.
    bool failed() const noexcept { return m_failed.load(std::memory_order_acquire); }
    void markFailed() noexcept { m_failed.store(true, std::memory_order_release); }

protected:
    std::atomic<bool> m_failed{false};
};

} // namespace koru::platform
