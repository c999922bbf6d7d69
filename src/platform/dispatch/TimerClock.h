#pragma once

#include <chrono>
#include <stop_token>

namespace koru::platform {

// The time a RepeatingTimer keeps. The program runs on the machine's monotonic clock; a test
// passes a clock it moves by hand, so a period passes exactly when the test says so.
class TimerClock {
public:
    using time_point = std::chrono::steady_clock::time_point;

    virtual ~TimerClock() = default;

    virtual time_point now() const = 0;
    // Blocks until `deadline` has come on this clock or `stop` is requested, whichever is first;
    // answers false when stopped.
    virtual bool sleepUntil(time_point deadline, std::stop_token stop) = 0;

    // The monotonic clock; lives as long as the process.
    static TimerClock& steady();
};

} // namespace koru::platform
