#pragma once

#include "platform/audio/MonotonicClock.h"

#include <cstdint>

namespace koru::platform {

// Catches a capture stream that delivers faster than real time. A sound server that dies under
// a stream can leave it calling back as fast as the CPU allows with nothing behind the buffers;
// when no read error says so, the pace is all that tells.
//
// The watch keeps the lead of the frames delivered over the frames the clock has let pass. A
// device clock a little fast of ours (the margin) never builds a lead; a server handing over
// seconds of audio at once (a burst) stays within the tolerance; falling behind (a stalled
// thread) earns at most one tolerance of credit for the catch-up that follows.
class StreamPaceWatch {
public:
    static constexpr double kRateMargin = 0.05;
    static constexpr double kToleranceSeconds = 3.0;

    StreamPaceWatch(MonotonicClock& clock, double sampleRate);

    // Audio thread: counts `frames` about to be delivered; false once they would put the stream
    // ahead of the clock by more than the tolerance. No allocation, no locks.
    bool admit(std::uint32_t frames) noexcept;
    void reset() noexcept { m_started = false; }
    double toleranceFrames() const { return m_tolerance; }

private:
    MonotonicClock* m_clock;
    double m_framesPerNanosecond;
    double m_tolerance;
    bool m_started = false;
    std::int64_t m_last = 0;
    double m_lead = 0.0;
};

// The other way a stream dies: its deliveries stop and no error ever comes. A sound server that
// dies under a capture can leave the stream's thread waiting inside the client library for good.
// Main thread: fed the stream's delivery count at each check, it answers true once that count
// has not moved for longer than any period a device grants.
class StreamStallWatch {
public:
    static constexpr double kStallSeconds = 4.0;

    bool stalled(std::uint64_t deliveries, std::int64_t nowNanoseconds) noexcept;
    void reset() noexcept { m_started = false; }

private:
    bool m_started = false;
    std::uint64_t m_deliveries = 0;
    std::int64_t m_since = 0;
};

} // namespace koru::platform
