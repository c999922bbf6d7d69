#pragma once

#include <cstdint>

namespace koru::platform {

// Where the audio layer reads the time and waits for it. Paced devices and the pace check of
// capture streams take one, so tests can drive them with a clock of their own instead of waiting
// on the wall.
class MonotonicClock {
public:
    virtual ~MonotonicClock() = default;
    virtual std::int64_t nowNanoseconds() const noexcept = 0;
    // Returns at or after `deadline` (nanoseconds on this clock).
    virtual void sleepUntil(std::int64_t deadline) noexcept = 0;

    // CLOCK_MONOTONIC and clock_nanosleep with absolute deadlines; lives as long as the process.
    static MonotonicClock& system();
};

} // namespace koru::platform
