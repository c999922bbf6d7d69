#include "platform/dispatch/SerialQueue.h"

#include "ManualTimerClock.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <numeric>
#include <stdexcept>
#include <thread>
#include <vector>

using koru::platform::SerialQueue;
using namespace std::chrono_literals;

namespace {

// Holds the queue inside one block until opened, so a test can pile work up behind it.
class Gate {
public:
    void close(SerialQueue& queue) {
        queue.async([open = m_open.get_future().share()] { open.wait(); });
    }
    void open() { m_open.set_value(); }

private:
    std::promise<void> m_open;
};

TEST(SerialQueue, RunsAThousandBlocksInSubmissionOrder) {
    SerialQueue queue("test.order");
    std::vector<int> seen; // touched only on the queue's thread until waitUntilIdle returns
    for (int i = 0; i < 1000; ++i)
        queue.async([&seen, i] { seen.push_back(i); });
    queue.waitUntilIdle();

    std::vector<int> expected(1000);
    std::iota(expected.begin(), expected.end(), 0);
    EXPECT_EQ(seen, expected);
}

TEST(SerialQueue, BlocksFromManyThreadsNeverOverlap) {
    SerialQueue queue("test.overlap");
    std::atomic<int> active = 0;
    std::atomic<int> mostActive = 0;
    std::atomic<int> ran = 0;
    std::atomic<int> offQueue = 0;
    const auto block = [&] {
        mostActive = std::max(mostActive.load(), ++active);
        offQueue += queue.isCurrentThread() ? 0 : 1;
        std::this_thread::yield(); // room for an overlapping block to show itself
        --active;
        ++ran;
    };
    std::vector<std::thread> submitters;
    for (int t = 0; t < 4; ++t)
        submitters.emplace_back([&] {
            for (int i = 0; i < 100; ++i)
                queue.async(block);
        });
    for (auto& submitter : submitters)
        submitter.join();
    queue.waitUntilIdle();

    EXPECT_EQ(ran.load(), 400);
    EXPECT_EQ(mostActive.load(), 1);
    EXPECT_EQ(offQueue.load(), 0);
}

TEST(SerialQueue, ABlockStartsOnlyAfterThePreviousOneEnded) {
    SerialQueue queue("test.backtoback");
    // Events numbered in the order they happen; a second block starting early would take its
    // number before the first one ends.
    std::atomic<int> clock = 0;
    int firstEnd = -1;
    int secondStart = -1;
    std::promise<void> open;
    queue.async([&, gate = open.get_future().share()] {
        gate.wait();
        firstEnd = clock++;
    });
    queue.async([&] { secondStart = clock++; });
    open.set_value();
    queue.waitUntilIdle();

    EXPECT_EQ(firstEnd, 0);
    EXPECT_EQ(secondStart, 1);
}

TEST(SerialQueue, ThrowingBlocksDoNotStopTheQueue) {
    SerialQueue queue("test.exceptions");
    bool after = false;
    queue.async([] { throw std::runtime_error("block failure"); });
    queue.async([] { throw 42; });
    queue.async([&] { after = true; });
    queue.waitUntilIdle();

    EXPECT_TRUE(after);
}

TEST(SerialQueue, DestructionRunsWhatIsQueued) {
    std::atomic<int> ran = 0;
    {
        SerialQueue queue("test.teardown");
        Gate gate;
        gate.close(queue);
        for (int i = 0; i < 50; ++i)
            queue.async([&] { ++ran; });
        gate.open();
    }
    EXPECT_EQ(ran.load(), 50);
}

TEST(SerialQueue, KnowsItsOwnThread) {
    SerialQueue queue("test.thread");
    bool inside = false;
    queue.async([&] { inside = queue.isCurrentThread(); });
    queue.waitUntilIdle();

    EXPECT_TRUE(inside);
    EXPECT_FALSE(queue.isCurrentThread());
    EXPECT_EQ(queue.label(), "test.thread");
}

TEST(SerialQueue, DrainGivesUpOnAStuckBlockAndSucceedsOnceItFinishes) {
    SerialQueue queue("test.drain");
    Gate gate;
    gate.close(queue);
    bool after = false;
    queue.async([&] { after = true; });

    EXPECT_FALSE(queue.drain(50ms));
    gate.open();
    EXPECT_TRUE(queue.drain(10s));
    EXPECT_TRUE(after);
}

// A long block that keeps reporting progress (an export being written) holds drain() for as
// long as it does, and drain() gives up only after a whole timeout without any sign of life.
class DrainWithProgress : public ::testing::Test {
protected:
    using time_point = koru::test::ManualTimerClock::time_point;
    static constexpr time_point kStart = koru::test::ManualTimerClock::kStart;

    void SetUp() override {
        queue.async(
            [this, step1 = m_step1.get_future().share(), step2 = m_step2.get_future().share()] {
                step1.wait();
                queue.reportProgress();
                step2.wait();
            });
        drained = std::async(std::launch::async, [this] { return queue.drain(1s, clock); });
        ASSERT_TRUE(clock.waitForSleeper(kStart + 1s));
        // Most of the first timeout passes, then the block shows it is alive.
        clock.advance(600ms);
        m_step1.set_value();
        ASSERT_TRUE(clock.waitForSleeper(kStart + 1600ms)) << "progress must restart the timeout";
        clock.advanceTo(kStart + 1300ms); // past the first timeout
    }
    void TearDown() override {
        if (!m_step2Released)
            m_step2.set_value();
        queue.waitUntilIdle();
    }
    void finishBlock() {
        m_step2Released = true;
        m_step2.set_value();
    }

    koru::test::ManualTimerClock clock;
    SerialQueue queue{"test.drain.progress"};
    std::future<bool> drained;

private:
    std::promise<void> m_step1;
    std::promise<void> m_step2;
    bool m_step2Released = false;
};

TEST_F(DrainWithProgress, WaitsPastTheTimeoutUntilTheBlockFinishes) {
    EXPECT_EQ(drained.wait_for(0s), std::future_status::timeout);
    finishBlock();
    EXPECT_TRUE(drained.get());
}

TEST_F(DrainWithProgress, GivesUpAfterATimeoutWithoutProgress) {
    clock.advanceTo(kStart + 1600ms);
    EXPECT_FALSE(drained.get());
}

} // namespace
