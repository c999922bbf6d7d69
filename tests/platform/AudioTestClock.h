#pragma once

#include "platform/audio/MonotonicClock.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <vector>

namespace koru::test {

// A clock the test moves. Reading it never waits; a thread that sleeps on it waits until the
// test allows another sleep (or closes the clock), and each sleep then moves the clock to its
// deadline, so a paced thread runs exactly as many periods as the test allows.
class TestClock final : public koru::platform::MonotonicClock {
public:
    static constexpr std::int64_t kSecond = 1'000'000'000;

    explicit TestClock(std::int64_t start = 100 * kSecond) : m_now(start) {}

    std::int64_t nowNanoseconds() const noexcept override {
        std::lock_guard lock(m_mutex);
        return m_now;
    }

    void sleepUntil(std::int64_t deadline) noexcept override {
        std::unique_lock lock(m_mutex);
        m_changed.wait(lock, [&] { return m_allowed > 0 || m_closed; });
        if (m_closed)
            return;
        --m_allowed;
        m_deadlines.push_back(deadline);
        m_now = std::max(m_now, deadline);
        m_changed.notify_all();
    }

    void advance(std::int64_t nanoseconds) {
        std::lock_guard lock(m_mutex);
        m_now += nanoseconds;
    }
    void allowSleeps(int count) {
        std::lock_guard lock(m_mutex);
        m_allowed += count;
        m_changed.notify_all();
    }
    // Waits (a generous safety deadline, never a pacing one) until `count` sleeps have ended.
    bool waitForSleeps(std::size_t count) {
        std::unique_lock lock(m_mutex);
        return m_changed.wait_for(lock, std::chrono::seconds(20),
                                  [&] { return m_deadlines.size() >= count; });
    }
    // Lets every sleeper go at once, so a paced thread can be stopped.
    void close() {
        std::lock_guard lock(m_mutex);
        m_closed = true;
        m_changed.notify_all();
    }
    std::vector<std::int64_t> deadlines() const {
        std::lock_guard lock(m_mutex);
        return m_deadlines;
    }

private:
    mutable std::mutex m_mutex;
    std::condition_variable m_changed;
    std::int64_t m_now;
    int m_allowed = 0;
    bool m_closed = false;
    std::vector<std::int64_t> m_deadlines;
};

} // namespace koru::test
