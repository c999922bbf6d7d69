#include "platform/dispatch/TimerClock.h"

#include <condition_variable>
#include <mutex>

namespace koru::platform {

namespace {

class SteadyTimerClock : public TimerClock {
public:
    time_point now() const override { return std::chrono::steady_clock::now(); }

    bool sleepUntil(time_point deadline, std::stop_token stop) override {
        // Each sleeper waits on its own: nothing but a stop request ever wakes it early.
        std::mutex mutex;
        std::condition_variable_any woken;
        std::unique_lock lock(mutex);
        woken.wait_until(lock, stop, deadline, [] { return false; });
        return !stop.stop_requested();
    }
};

} // namespace

TimerClock& TimerClock::steady() {
    static auto* const clock = new SteadyTimerClock;
    return *clock;
}

} // namespace koru::platform
