#pragma once

#include "platform/dispatch/TimerClock.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <vector>

namespace koru::test {

// A timer clock that stands still until the test moves it. The test sees when a timer has gone
// to sleep and until when, so it never needs to guess how long to wait.
class ManualTimerClock : public koru::platform::TimerClock {
public:
    static constexpr time_point kStart = time_point{} + std::chrono::hours(1);

    time_point now() const override {
        std::lock_guard lock(m_mutex);
        return m_now;
    }

    bool sleepUntil(time_point deadline, std::stop_token stop) override {
        std::unique_lock lock(m_mutex);
        m_sleepers.push_back(deadline);
        m_changed.notify_all();
        const bool reached = m_changed.wait(lock, stop, [&] { return m_now >= deadline; });
        m_sleepers.erase(std::find(m_sleepers.begin(), m_sleepers.end(), deadline));
        m_changed.notify_all();
        return reached;
    }

    void advanceTo(time_point when) {
        std::lock_guard lock(m_mutex);
        m_now = std::max(m_now, when);
        m_changed.notify_all();
    }
    void advance(std::chrono::nanoseconds by) { advanceTo(now() + by); }

    // The earliest deadline a timer sleeps until, once one does. Nullopt only when none went to
    // sleep within the generous safety deadline (a hung timer).
    std::optional<time_point> sleeperDeadline() {
        std::unique_lock lock(m_mutex);
        std::optional<time_point> earliest;
        m_changed.wait_for(lock, std::chrono::seconds(10), [&] {
            for (const time_point deadline : m_sleepers) {
                if (deadline > m_now && (!earliest || deadline < *earliest))
                    earliest = deadline;
            }
            return earliest.has_value();
        });
        return earliest;
    }

    // Waits until something sleeps until exactly `deadline`; false when nothing did within the
    // generous safety deadline.
    bool waitForSleeper(time_point deadline) {
        std::unique_lock lock(m_mutex);
        return m_changed.wait_for(lock, std::chrono::seconds(10), [&] {
            return std::find(m_sleepers.begin(), m_sleepers.end(), deadline) != m_sleepers.end();
        });
    }

private:
    mutable std::mutex m_mutex;
    std::condition_variable_any m_changed;
    time_point m_now = kStart;
    std::vector<time_point> m_sleepers;
};

} // namespace koru::test
