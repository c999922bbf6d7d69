#pragma once

#include "platform/audio/MonotonicClock.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <thread>

namespace koru::platform {

// A thread that calls `tick` once per period of `periodFrames` frames at `sampleRate`, against
// absolute deadlines on its clock so the long-run rate is exact. After a stall of more than a
// second it picks up from now instead of firing the missed periods in a burst.
class PacedThread {
public:
    static constexpr std::int64_t kStallNanoseconds = 1'000'000'000;

    explicit PacedThread(MonotonicClock& clock = MonotonicClock::system()) : m_clock(clock) {}
    ~PacedThread() { stop(); }
    PacedThread(const PacedThread&) = delete;
    PacedThread& operator=(const PacedThread&) = delete;

    void start(double sampleRate, std::uint32_t periodFrames, std::function<void()> tick);
    void stop() noexcept; // waits for a running tick to end
    bool running() const { return m_thread.joinable(); }

private:
    void run(double sampleRate, std::uint32_t periodFrames);

    MonotonicClock& m_clock;
    std::function<void()> m_tick;
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
};

} // namespace koru::platform
