#include "platform/dispatch/SerialQueue.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <memory>
#include <thread>

using koru::platform::RepeatingTimer;
using koru::platform::SerialQueue;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

namespace {

// Timing bounds are loose on purpose: these run on small, busy CI machines.
class RepeatingTimerTest : public ::testing::Test {
protected:
    template <typename Predicate> static bool waitFor(Predicate done, Clock::duration timeout) {
        const auto deadline = Clock::now() + timeout;
        while (!done()) {
            if (Clock::now() > deadline)
                return done();
            std::this_thread::sleep_for(1ms);
        }
        return true;
    }

    std::atomic<int> fired = 0; // outlives the queue, whose teardown runs what is left
    SerialQueue queue{"test.timer"};
};

TEST_F(RepeatingTimerTest, FirstFiresAtOnceNotAfterTheInterval) {
    const auto start = Clock::now();
    RepeatingTimer timer(queue, 30s, 1s, [&] { ++fired; });

    ASSERT_TRUE(waitFor([&] { return fired == 1; }, 5s));
    EXPECT_LT(Clock::now() - start, 5s);
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(fired.load(), 1);
}

TEST_F(RepeatingTimerTest, FiresAboutOncePerInterval) {
    const auto start = Clock::now();
    RepeatingTimer timer(queue, 100ms, 10ms, [&] { ++fired; });
    std::this_thread::sleep_for(1s);
    timer.cancel();
    const auto elapsed = Clock::now() - start;

    // 11 at the exact pace; a starved machine gives fewer, but never a burst of extra firings.
    EXPECT_GE(fired.load(), 4);
    EXPECT_LE(fired.load(), elapsed / 100ms + 1);
    EXPECT_EQ(timer.interval(), 100ms);
    EXPECT_EQ(timer.leeway(), 10ms);
}

TEST_F(RepeatingTimerTest, FiringsWhileTheQueueIsBusyCoalesce) {
    std::promise<void> open;
    queue.async([gate = open.get_future().share()] { gate.wait(); });
    RepeatingTimer timer(queue, 20ms, 0ms, [&] { ++fired; });

    // Some ten periods pass while the queue is held; then a marker lines up behind whatever
    // firings were queued, and ten more periods pass.
    std::this_thread::sleep_for(200ms);
    std::atomic<int> firedBeforeMarker = -1;
    queue.async([&] { firedBeforeMarker = fired.load(); });
    std::this_thread::sleep_for(200ms);
    open.set_value();
    queue.waitUntilIdle();
    timer.cancel();

    EXPECT_EQ(firedBeforeMarker.load(), 1);
}

TEST_F(RepeatingTimerTest, NothingFiresAfterCancel) {
    RepeatingTimer timer(queue, 20ms, 0ms, [&] { ++fired; });
    ASSERT_TRUE(waitFor([&] { return fired >= 2; }, 5s));

    timer.cancel();
    queue.waitUntilIdle();
    const int atCancel = fired;
    std::this_thread::sleep_for(200ms);
    queue.waitUntilIdle();

    EXPECT_EQ(fired.load(), atCancel);
    timer.cancel(); // a second cancel is harmless
}

TEST_F(RepeatingTimerTest, CancelledFiringStillQueuedDoesNotRun) {
    std::promise<void> open;
    queue.async([gate = open.get_future().share()] { gate.wait(); });
    RepeatingTimer timer(queue, 10s, 0ms, [&] { ++fired; });
    std::this_thread::sleep_for(50ms); // the first firing is now queued behind the gate

    timer.cancel();
    open.set_value();
    queue.waitUntilIdle();

    EXPECT_EQ(fired.load(), 0);
}

TEST_F(RepeatingTimerTest, HandlerMayCancelOrDestroyItsOwnTimer) {
    for (const bool destroy : {false, true}) {
        fired = 0;
        std::promise<void> open;
        queue.async([gate = open.get_future().share()] { gate.wait(); });
        std::unique_ptr<RepeatingTimer> timer;
        timer = std::make_unique<RepeatingTimer>(queue, 10ms, 0ms, [&] {
            ++fired;
            if (destroy)
                timer.reset();
            else
                timer->cancel();
        });
        open.set_value();

        ASSERT_TRUE(queue.drain(10s)) << "the handler deadlocked, destroy=" << destroy;
        std::this_thread::sleep_for(100ms);
        ASSERT_TRUE(queue.drain(10s));
        EXPECT_EQ(fired.load(), 1) << "destroy=" << destroy;
        EXPECT_EQ(timer == nullptr, destroy);
    }
}

TEST_F(RepeatingTimerTest, NonPositiveIntervalFiresOnce) {
    RepeatingTimer timer(queue, 0ns, 0ns, [&] { ++fired; });
    ASSERT_TRUE(waitFor([&] { return fired == 1; }, 5s));
    std::this_thread::sleep_for(100ms);
    queue.waitUntilIdle();
    EXPECT_EQ(fired.load(), 1);
}

} // namespace
