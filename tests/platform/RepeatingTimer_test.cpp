#include "ManualTimerClock.h"

#include "platform/dispatch/SerialQueue.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <future>
#include <memory>
#include <mutex>
#include <thread>

using koru::platform::RepeatingTimer;
using koru::platform::SerialQueue;
using koru::platform::TimerClock;
using koru::test::ManualTimerClock;
using namespace std::chrono_literals;

namespace {

// Counts handler calls and lets the test wait for a count.
class Counter {
public:
    void operator()() {
        std::lock_guard lock(m_mutex);
        ++m_count;
        m_changed.notify_all();
    }
    int count() const {
        std::lock_guard lock(m_mutex);
        return m_count;
    }
    // A safety net for a hung timer; the count is what the test waits for.
    bool waitFor(int count) {
        std::unique_lock lock(m_mutex);
        return m_changed.wait_for(lock, 10s, [&] { return m_count >= count; });
    }

private:
    mutable std::mutex m_mutex;
    std::condition_variable m_changed;
    int m_count = 0;
};

// Time moves only when a test moves the clock; a test advances it to the deadline the timer
// sleeps until, so every firing is one the test asked for.
class RepeatingTimerTest : public ::testing::Test {
protected:
    std::unique_ptr<RepeatingTimer> start(std::chrono::nanoseconds interval,
                                          std::chrono::nanoseconds leeway = 0ns) {
        return std::make_unique<RepeatingTimer>(
            queue, interval, leeway, [this] { fired(); }, clock);
    }
    // Lets the timer reach its next deadline and waits until it sleeps again.
    void passOnePeriod() {
        const auto deadline = clock.sleeperDeadline();
        ASSERT_TRUE(deadline) << "the timer never went to sleep";
        clock.advanceTo(*deadline);
        ASSERT_TRUE(clock.sleeperDeadline());
    }

    ManualTimerClock clock;
    Counter fired;                   // outlives the queue, whose teardown runs what is left
    SerialQueue queue{"test.timer"}; // destroyed before the clock the timers sleep on
};

TEST_F(RepeatingTimerTest, FirstFiresAtOnceNotAfterTheInterval) {
    auto timer = start(30s, 1s);
    EXPECT_EQ(clock.sleeperDeadline(), ManualTimerClock::kStart + 30s);
    queue.waitUntilIdle();
    EXPECT_EQ(fired.count(), 1);
    EXPECT_EQ(timer->interval(), 30s);
    EXPECT_EQ(timer->leeway(), 1s);
}

TEST_F(RepeatingTimerTest, FiresOncePerIntervalWithoutDrift) {
    auto timer = start(100ms);
    for (int period = 1; period <= 10; ++period) {
        SCOPED_TRACE(period);
        const auto deadline = clock.sleeperDeadline();
        ASSERT_TRUE(deadline);
        EXPECT_EQ(*deadline, ManualTimerClock::kStart + period * 100ms);
        queue.waitUntilIdle();
        EXPECT_EQ(fired.count(), period);
        clock.advanceTo(*deadline);
    }
    EXPECT_EQ(clock.sleeperDeadline(), ManualTimerClock::kStart + 1100ms);
    queue.waitUntilIdle();
    EXPECT_EQ(fired.count(), 11);
}

TEST_F(RepeatingTimerTest, AfterAStallFiresOnceAndKeepsItsPhase) {
    auto timer = start(1s);
    ASSERT_EQ(clock.sleeperDeadline(), ManualTimerClock::kStart + 1s);
    queue.waitUntilIdle(); // the first firing has run, so the next one is not folded into it
    clock.advance(10500ms);
    EXPECT_EQ(clock.sleeperDeadline(), ManualTimerClock::kStart + 11s);
    queue.waitUntilIdle();
    EXPECT_EQ(fired.count(), 2);
}

TEST(RepeatingTimerDeadline, NextDeadlineKeepsThePhase) {
    const TimerClock::time_point t0{};
    struct Case {
        const char* name;
        std::chrono::milliseconds firedAt; // after the previous deadline
        std::chrono::milliseconds next;    // after the previous deadline
    };
    const Case cases[] = {
        {"on time", 0ms, 100ms},
        {"late within the period", 60ms, 100ms},
        {"a whole period late", 100ms, 200ms},
        {"stalled", 1050ms, 1100ms},
        {"stalled to a deadline", 1000ms, 1100ms},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(RepeatingTimer::nextDeadline(t0, t0 + c.firedAt, 100ms), t0 + c.next) << c.name;
    }
}

TEST_F(RepeatingTimerTest, FiringsWhileTheQueueIsBusyCoalesce) {
    std::promise<void> open;
    queue.async([gate = open.get_future().share()] { gate.wait(); });
    auto timer = start(20ms);

    // Ten periods pass while the queue is held; then a marker lines up behind whatever firings
    // were queued, and ten more periods pass.
    for (int period = 0; period < 10; ++period)
        passOnePeriod();
    std::atomic<int> firedBeforeMarker = -1;
    queue.async([&] { firedBeforeMarker = fired.count(); });
    for (int period = 0; period < 10; ++period)
        passOnePeriod();
    open.set_value();
    queue.waitUntilIdle();
    timer->cancel();

    EXPECT_EQ(firedBeforeMarker.load(), 1);
    EXPECT_EQ(fired.count(), 1);
}

TEST_F(RepeatingTimerTest, NothingFiresAfterCancel) {
    auto timer = start(20ms);
    ASSERT_TRUE(clock.sleeperDeadline());
    queue.waitUntilIdle();
    passOnePeriod();
    queue.waitUntilIdle();
    ASSERT_EQ(fired.count(), 2);

    timer->cancel();
    clock.advance(1s);
    queue.waitUntilIdle();
    EXPECT_EQ(fired.count(), 2);
    timer->cancel(); // a second cancel is harmless
}

TEST_F(RepeatingTimerTest, CancelledFiringStillQueuedDoesNotRun) {
    std::promise<void> open;
    queue.async([gate = open.get_future().share()] { gate.wait(); });
    auto timer = start(10s);
    ASSERT_TRUE(clock.sleeperDeadline()); // the first firing is now queued behind the gate

    timer->cancel();
    open.set_value();
    queue.waitUntilIdle();

    EXPECT_EQ(fired.count(), 0);
}

TEST_F(RepeatingTimerTest, CancelWaitsForAHandlerRunningOnTheQueue) {
    std::promise<void> entered;
    std::atomic<bool> cancelling{false};
    std::atomic<bool> cancelReturned{false};
    std::atomic<bool> running{false};
    std::atomic<bool> sawCancelReturn{false};
    RepeatingTimer timer(
        queue, 1h, 0ns,
        [&] {
            running = true;
            entered.set_value();
            while (!cancelling)
                std::this_thread::yield();
            // A cancel that did not wait would return in the meantime.
            for (int i = 0; i < 20000 && !sawCancelReturn; ++i) {
                sawCancelReturn = cancelReturned.load();
                std::this_thread::yield();
            }
            running = false;
        },
        clock);
    entered.get_future().wait();

    cancelling = true;
    timer.cancel();
    cancelReturned = true;
    EXPECT_FALSE(running.load());
    queue.waitUntilIdle();
    EXPECT_FALSE(sawCancelReturn.load());
}

TEST_F(RepeatingTimerTest, HandlerMayCancelOrDestroyItsOwnTimer) {
    for (const bool destroy : {false, true}) {
        SCOPED_TRACE(destroy ? "destroy" : "cancel");
        int calls = 0;
        std::promise<void> open;
        queue.async([gate = open.get_future().share()] { gate.wait(); });
        std::unique_ptr<RepeatingTimer> timer;
        timer = std::make_unique<RepeatingTimer>(
            queue, 10ms, 0ns,
            [&] {
                ++calls;
                if (destroy)
                    timer.reset();
                else
                    timer->cancel();
            },
            clock);
        ASSERT_TRUE(clock.sleeperDeadline());
        open.set_value();

        ASSERT_TRUE(queue.drain(10s)) << "the handler deadlocked";
        clock.advance(1s);
        ASSERT_TRUE(queue.drain(10s));
        EXPECT_EQ(calls, 1);
        EXPECT_EQ(timer == nullptr, destroy);
    }
}

TEST_F(RepeatingTimerTest, NonPositiveIntervalFiresOnce) {
    auto timer = start(0ns);
    ASSERT_TRUE(fired.waitFor(1));
    clock.advance(1h);
    queue.waitUntilIdle();
    EXPECT_EQ(fired.count(), 1);
}

TEST(RepeatingTimerOnTheSteadyClock, FiresAgainAfterItsInterval) {
    SerialQueue queue("test.steady");
    Counter fired;
    RepeatingTimer timer(queue, 1ms, 0ns, [&] { fired(); });
    EXPECT_TRUE(fired.waitFor(3));
    timer.cancel();
    queue.waitUntilIdle();
}

} // namespace
