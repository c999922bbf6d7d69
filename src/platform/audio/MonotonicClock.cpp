#include "platform/audio/MonotonicClock.h"

#include <cerrno>
#include <ctime>

namespace koru::platform {

namespace {

class SystemClock final : public MonotonicClock {
public:
    std::int64_t nowNanoseconds() const noexcept override {
        timespec now{};
        clock_gettime(CLOCK_MONOTONIC, &now);
        return std::int64_t(now.tv_sec) * 1'000'000'000 + now.tv_nsec;
    }

    void sleepUntil(std::int64_t deadline) noexcept override {
        timespec target{};
        target.tv_sec = time_t(deadline / 1'000'000'000);
        target.tv_nsec = long(deadline % 1'000'000'000);
        while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &target, nullptr) == EINTR) {
        }
    }
};

} // namespace

MonotonicClock& MonotonicClock::system() {
    static SystemClock* clock = new SystemClock; // lives as long as the process
    return *clock;
}

} // namespace koru::platform
