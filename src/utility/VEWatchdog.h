#pragma once

#include "platform/dispatch/SerialQueue.h"
#include "platform/dispatch/TimerClock.h"

#include <any>
#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

// Fires an action once unless it is re-armed in time. Nothing is watched until resumeAfter(); from
// then on the action runs on `queue` when an interval passes without validate(). Setting the
// interval starts it "now", so a watchdog resumed without a validate() since then fires at once.
// The watchdog cancels itself before its action runs, so the action runs at most once.
//
// Time is kept on `clock` by a thread of the watchdog's own, which also waits out the resume
// delay (no main-loop timer involved). The firing comes at the deadline itself, well inside the
// hundredth of the interval a caller may expect as leeway.
//
// Any thread may call any operation. cancel() and the destructor wait for an action running on
// another thread (the action is handed this object), so never cancel from a thread the action
// waits for; both may be called from the action itself. Lock order: the run mutex, then the
// thread mutex; the state mutex is only ever taken alone.
class VEWatchdog {
public:
    // Gets the watchdog and the reference object given at construction.
    using Action = std::function<void(VEWatchdog& watchdog, const std::any& refCon)>;

    VEWatchdog(double seconds, Action action, koru::platform::SerialQueue& queue,
               std::any refCon = {},
               koru::platform::TimerClock& clock = koru::platform::TimerClock::steady());
    ~VEWatchdog();

    VEWatchdog(const VEWatchdog&) = delete;
    VEWatchdog& operator=(const VEWatchdog&) = delete;

    // Sets the interval and starts it now. Negative seconds and NaN count as 0, more than 10^9 s
    // (infinity too) as 10^9 s.
    void setTimeInterval(double seconds);
    // Re-arms: the action is due one interval from now.
    void validate();
    // Starts the watch after `seconds`; only the first call counts, later ones are ignored.
    void resumeAfter(double seconds);
    // For good: the action never runs after this returns.
    void cancel();

    bool isCancelled() const;
    std::chrono::nanoseconds interval() const;

private:
    struct State;
    void run();

    std::shared_ptr<State> m_state;
    koru::platform::SerialQueue& m_queue;
    koru::platform::TimerClock& m_clock;
    std::mutex m_threadMutex; // guards m_thread
    std::thread m_thread;     // started by the first resumeAfter(); joined by the destructor
};
