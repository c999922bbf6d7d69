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

} // namespace koru::platform
