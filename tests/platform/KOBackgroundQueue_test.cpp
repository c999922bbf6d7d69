#include "ManualTimerClock.h"

#include "platform/dispatch/KOBackgroundQueue.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>

using namespace std::chrono_literals;

namespace {

TEST(KOBackgroundQueue, IsOneLabelledQueueForTheProcess) {
    koru::platform::SerialQueue* queue = KOBackgroundQueue();
    ASSERT_NE(queue, nullptr);
    EXPECT_EQ(queue, KOBackgroundQueue());
    EXPECT_EQ(queue->label(), "audio.koru.KORU-background");
}

TEST(KOBackgroundQueue, DispatchedBlocksRunOnItInOrder) {
    std::vector<int> order;
    std::promise<bool> onQueue;
    KODispatchBackground([&] { order.push_back(1); });
    KODispatchBackground([&] {
        order.push_back(2);
        onQueue.set_value(KOBackgroundQueue()->isCurrentThread());
    });

    auto result = onQueue.get_future();
    ASSERT_EQ(result.wait_for(10s), std::future_status::ready);
    EXPECT_TRUE(result.get());
    EXPECT_EQ(order, (std::vector<int>{1, 2}));
}

TEST(KOBackgroundQueue, RepeatingTimerFiresAtOnceThenWaitsItsSeconds) {
    koru::test::ManualTimerClock clock;
    std::atomic<int> fired = 0;
    auto timer = KOCreateRepeatingTimer(
        55, [&] { ++fired; }, clock);
    ASSERT_NE(timer, nullptr);
    EXPECT_EQ(timer->interval(), 55s);
    EXPECT_EQ(timer->leeway(), 1s);

    EXPECT_EQ(clock.sleeperDeadline(), koru::test::ManualTimerClock::kStart + 55s);
    KOBackgroundQueue()->waitUntilIdle();
    EXPECT_EQ(fired.load(), 1);

    clock.advance(55s);
    EXPECT_EQ(clock.sleeperDeadline(), koru::test::ManualTimerClock::kStart + 110s);
    KOBackgroundQueue()->waitUntilIdle();
    EXPECT_EQ(fired.load(), 2);

    timer.reset();
    KOBackgroundQueue()->waitUntilIdle();
}

} // namespace
