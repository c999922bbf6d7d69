#include "utility/VEWatchdog.h"

#include "platform/ManualTimerClock.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <limits>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace {

using namespace std::chrono_literals;
using koru::test::ManualTimerClock;
using time_point = ManualTimerClock::time_point;
constexpr time_point kStart = ManualTimerClock::kStart;

// Counts the actions; a test waits for a count, never for a time.
class Firings {
public:
    void record() {
        const std::lock_guard lock(m_mutex);
        ++m_count;
        m_changed.notify_all();
    }
    int count() const {
        const std::lock_guard lock(m_mutex);
        return m_count;
    }
    // False only when the count is not reached within a generous safety deadline.
    bool waitFor(int count) {
        std::unique_lock lock(m_mutex);
        return m_changed.wait_for(lock, 10s, [&] { return m_count >= count; });
    }

private:
    mutable std::mutex m_mutex;
    std::condition_variable m_changed;
    int m_count = 0;
};

class VEWatchdogTest : public ::testing::Test {
protected:
    std::unique_ptr<VEWatchdog> makeWatchdog(double seconds) {
        return std::make_unique<VEWatchdog>(
            seconds, [this](VEWatchdog&, const std::any&) { firings.record(); }, queue, std::any{},
            clock);
    }

    ManualTimerClock clock;
    koru::platform::SerialQueue queue{"test.watchdog"};
    Firings firings;
};

struct FireTimeCase {
    const char* name;
    bool validateFirst;                            // validate() right after creation
    std::chrono::milliseconds resume;              // resumeAfter() delay
    std::vector<std::chrono::milliseconds> sleeps; // the deadlines slept to before firing
};

class VEWatchdogFireTimeTest : public VEWatchdogTest,
                               public ::testing::WithParamInterface<FireTimeCase> {};

TEST_P(VEWatchdogFireTimeTest, FiresWhenTheIntervalFromTheLastStartHasPassedAndTheWatchIsOn) {
    const FireTimeCase& c = GetParam();
    auto watchdog = makeWatchdog(1.0);
    if (c.validateFirst)
        watchdog->validate();
    watchdog->resumeAfter(std::chrono::duration<double>(c.resume).count());

    for (const auto sleep : c.sleeps) {
        const std::optional<time_point> deadline = clock.sleeperDeadline();
        ASSERT_TRUE(deadline.has_value());
        EXPECT_EQ(*deadline, kStart + sleep);
        EXPECT_EQ(firings.count(), 0) << "nothing fires while the watchdog sleeps";
        clock.advanceTo(*deadline);
    }
    ASSERT_TRUE(firings.waitFor(1));
    EXPECT_TRUE(watchdog->isCancelled());
}

INSTANTIATE_TEST_SUITE_P(
    Cases, VEWatchdogFireTimeTest,
    ::testing::Values(
        // Setting the interval starts it: resumed without a validate it fires at once.
        FireTimeCase{"UnvalidatedResumedAtOnce", false, 0ms, {}},
        FireTimeCase{"UnvalidatedResumedLater", false, 2000ms, {2000ms}},
        FireTimeCase{"ValidatedResumedAtOnce", true, 0ms, {1000ms}},
        FireTimeCase{"ValidatedResumedBeforeTheDeadline", true, 500ms, {500ms, 1000ms}},
        // The deadline passed while the watch was off.
        FireTimeCase{"ValidatedResumedAfterTheDeadline", true, 2000ms, {2000ms}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(VEWatchdogTest, ValidatingInTimeKeepsItQuietThenItFiresOnceAnIntervalAfterTheLast) {
    auto watchdog = makeWatchdog(1.0);
    watchdog->validate();
    watchdog->resumeAfter(0.0);
    time_point deadline = kStart + 1s;
    ASSERT_TRUE(clock.waitForSleeper(deadline));
    for (int i = 0; i < 6; ++i) {
        clock.advance(500ms);
        watchdog->validate();
        deadline = clock.now() + 1s;
        ASSERT_TRUE(clock.waitForSleeper(deadline)) << "validation " << i << " re-arms";
    }
    clock.advanceTo(deadline - 1ns);
    queue.waitUntilIdle();
    EXPECT_EQ(firings.count(), 0);

    clock.advanceTo(deadline);
    ASSERT_TRUE(firings.waitFor(1));

    // At most once: neither more time nor another validate brings it back.
    watchdog->validate();
    clock.advance(10s);
    queue.waitUntilIdle();
    EXPECT_EQ(firings.count(), 1);
}

TEST_F(VEWatchdogTest, ShorterIntervalMovesAWaitingDeadlineForward) {
    auto watchdog = makeWatchdog(10.0);
    watchdog->validate();
    watchdog->resumeAfter(0.0);
    ASSERT_TRUE(clock.waitForSleeper(kStart + 10s));
    clock.advance(1s);
    watchdog->setTimeInterval(2.0); // due now: a new interval starts at once
    ASSERT_TRUE(firings.waitFor(1));
    EXPECT_EQ(watchdog->interval(), 2s);
}

TEST_F(VEWatchdogTest, SecondResumeIsIgnored) {
    auto watchdog = makeWatchdog(1.0);
    watchdog->resumeAfter(5.0);
    watchdog->resumeAfter(0.0); // would fire at once if it counted
    const std::optional<time_point> deadline = clock.sleeperDeadline();
    ASSERT_TRUE(deadline.has_value());
    EXPECT_EQ(*deadline, kStart + 5s);
    queue.waitUntilIdle();
    EXPECT_EQ(firings.count(), 0);
    clock.advanceTo(kStart + 5s);
    ASSERT_TRUE(firings.waitFor(1));
}

TEST_F(VEWatchdogTest, CancellingOrDestroyingBeforeTheFiringStopsItForGood) {
    {
        SCOPED_TRACE("destroyed without ever being resumed");
        auto watchdog = makeWatchdog(1.0);
        watchdog->validate();
        watchdog.reset();
    }
    {
        SCOPED_TRACE("cancelled, then resumed");
        auto watchdog = makeWatchdog(0.0);
        watchdog->cancel();
        watchdog->resumeAfter(0.0);
        EXPECT_TRUE(watchdog->isCancelled());
    }
    {
        SCOPED_TRACE("cancelled while it waits");
        auto watchdog = makeWatchdog(1.0);
        watchdog->validate();
        watchdog->resumeAfter(0.0);
        ASSERT_TRUE(clock.waitForSleeper(clock.now() + 1s));
        watchdog->cancel();
        clock.advance(5s);
        watchdog.reset(); // joins its thread, so a firing would be queued by now
    }
    {
        SCOPED_TRACE("destroyed while it waits for its resume");
        auto watchdog = makeWatchdog(1.0);
        watchdog->resumeAfter(3.0);
        ASSERT_TRUE(clock.waitForSleeper(clock.now() + 3s));
        watchdog.reset();
        clock.advance(5s);
    }
    queue.waitUntilIdle();
    EXPECT_EQ(firings.count(), 0);
}

TEST_F(VEWatchdogTest, ActionGetsItsCancelledWatchdogAndReferenceAndMayDestroyIt) {
    std::unique_ptr<VEWatchdog> watchdog;
    std::string reference;
    bool cancelledInAction = false;
    VEWatchdog* seen = nullptr;
    watchdog = std::make_unique<VEWatchdog>(
        0.5,
        [&](VEWatchdog& self, const std::any& refCon) {
            seen = &self;
            cancelledInAction = self.isCancelled();
            reference = std::any_cast<std::string>(refCon);
            watchdog.reset(); // the action may end its own watchdog
            firings.record();
        },
        queue, std::string("level meter"), clock);
    VEWatchdog* const original = watchdog.get();
    watchdog->resumeAfter(1.0);
    ASSERT_TRUE(clock.waitForSleeper(kStart + 1s));
    clock.advance(1s);
    ASSERT_TRUE(firings.waitFor(1));
    queue.waitUntilIdle();
    EXPECT_EQ(seen, original);
    EXPECT_TRUE(cancelledInAction);
    EXPECT_EQ(reference, "level meter");
    EXPECT_EQ(watchdog, nullptr);
}

TEST_F(VEWatchdogTest, OddIntervalsAreClampedToUsableDurations) {
    const std::chrono::nanoseconds longest = std::chrono::seconds(1000000000);
    const struct {
        double seconds;
        std::chrono::nanoseconds interval;
    } cases[] = {{-1.0, 0ns},
                 {std::numeric_limits<double>::quiet_NaN(), 0ns},
                 {0.25, 250ms},
                 {1.0e12, longest},
                 {std::numeric_limits<double>::infinity(), longest}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.seconds);
        auto watchdog = makeWatchdog(1.0);
        watchdog->setTimeInterval(c.seconds);
        EXPECT_EQ(watchdog->interval(), c.interval);
    }
}

} // namespace
