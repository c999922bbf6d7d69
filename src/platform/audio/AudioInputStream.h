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

    static constexpr const char* kStoppedDelivering = "the device stopped delivering audio";
    static constexpr const char* kReadError = "the sound system reported an error on the stream";
    static constexpr const char* kFasterThanRealTime =
        "the stream delivered faster than real time (its sound server is gone)";

    virtual ~AudioInputStream() = default; // stops first
    virtual void start() = 0;              // throws AudioStreamError
    virtual void stop() noexcept = 0;      // waits until no delivery runs

    virtual std::uint32_t channels() const = 0;
    virtual double sampleRate() const = 0;
    virtual std::uint32_t periodFrames() const = 0; // what the device granted

    // Set from any thread when the device stops working under the stream (read error, unplug,
    // a pace no device keeps). From then on the stream delivers nothing: whatever its buffers
    // hold is not audio. Main picks the flag up and switches over. The first reason given stays;
    // reasons are static texts, so the audio thread can give one.
    bool failed() const noexcept { return m_failed.load(std::memory_order_acquire); }
    void markFailed(const char* reason = kStoppedDelivering) noexcept {
        const char* none = nullptr;
        m_failureReason.compare_exchange_strong(none, reason, std::memory_order_acq_rel);
        m_failed.store(true, std::memory_order_release);
    }
    const char* failureReason() const noexcept {
        const char* reason = m_failureReason.load(std::memory_order_acquire);
        return reason ? reason : kStoppedDelivering;
    }

    // Main thread, at each device check while the stream exists: a stream that can stop
    // delivering without an error marks itself failed here once it has been silent too long.
    virtual void checkProgress(std::int64_t /*nowNanoseconds*/) noexcept {}

    // Blocks the device dropped before we read them (an overflow it reported): a gap in the audio.
    std::uint64_t overflows() const noexcept { return m_overflows.load(std::memory_order_relaxed); }

protected:
    void noteOverflow() noexcept { m_overflows.fetch_add(1, std::memory_order_relaxed); }

    std::atomic<bool> m_failed{false};

private:
    std::atomic<const char*> m_failureReason{nullptr};
    std::atomic<std::uint64_t> m_overflows{0};
};

} // namespace koru::platform
