#include "utility/VEWatchdog.h"

#include <algorithm>
#include <cmath>
#include <mutex>
#include <optional>
#include <stop_token>

using koru::platform::TimerClock;

namespace {

// Long enough for any watch, short enough for the clock's nanosecond count.
constexpr double kLongestSeconds = 1.0e9;

std::chrono::nanoseconds toDuration(double seconds) {
    if (std::isnan(seconds) || seconds <= 0.0)
        return std::chrono::nanoseconds(0);
    return std::chrono::nanoseconds(std::llround(std::min(seconds, kLongestSeconds) * 1.0e9));
}

} // namespace

// Shared with the firing queued on the caller's queue, which may run after the watchdog is gone.
struct VEWatchdog::State {
    State(Action a, std::any r) : action(std::move(a)), refCon(std::move(r)) {}

    const Action action;
    const std::any refCon;

    // Held while the action runs, so cancelling waits for it; recursive, so the action may cancel
    // or destroy its own watchdog.
    std::recursive_mutex runMutex;

    mutable std::mutex mutex;    // guards everything below
    VEWatchdog* owner = nullptr; // null once cancelled
    std::chrono::nanoseconds interval{0};
    TimerClock::time_point deadline;
    std::optional<TimerClock::time_point> resumeAt; // set by the first resumeAfter()
    bool cancelled = false;
    std::stop_source wake; // interrupts the watch thread's sleep after a change

    void changed() { // mutex held
        wake.request_stop();
    }
};

VEWatchdog::VEWatchdog(double seconds, Action action, koru::platform::SerialQueue& queue,
                       std::any refCon, TimerClock& clock)
    : m_state(std::make_shared<State>(std::move(action), std::move(refCon))), m_queue(queue),
      m_clock(clock) {
    m_state->owner = this;
    setTimeInterval(seconds);
}

VEWatchdog::~VEWatchdog() {
    cancel();
    const std::lock_guard threadLock(m_threadMutex);
    if (m_thread.joinable())
        m_thread.join();
}

void VEWatchdog::setTimeInterval(double seconds) {
    const std::lock_guard lock(m_state->mutex);
    m_state->interval = toDuration(seconds);
    m_state->deadline = m_clock.now();
    m_state->changed();
}

void VEWatchdog::validate() {
    const std::lock_guard lock(m_state->mutex);
    m_state->deadline = m_clock.now() + m_state->interval;
    m_state->changed();
}

void VEWatchdog::resumeAfter(double seconds) {
    {
        const std::lock_guard lock(m_state->mutex);
        if (m_state->cancelled || m_state->resumeAt)
            return;
        m_state->resumeAt = m_clock.now() + toDuration(seconds);
    }
    // The action may end the watchdog before this returns: the destructor joins under this lock.
    const std::lock_guard threadLock(m_threadMutex);
    m_thread = std::thread([this] { run(); });
}

void VEWatchdog::cancel() {
    {
        const std::lock_guard lock(m_state->mutex);
        m_state->cancelled = true;
        m_state->owner = nullptr;
        m_state->changed();
    }
    // Waits for an action under way elsewhere; from the action itself the lock is already ours.
    const std::lock_guard running(m_state->runMutex);
}

bool VEWatchdog::isCancelled() const {
    const std::lock_guard lock(m_state->mutex);
    return m_state->cancelled;
}

std::chrono::nanoseconds VEWatchdog::interval() const {
    const std::lock_guard lock(m_state->mutex);
    return m_state->interval;
}

void VEWatchdog::run() {
    const std::shared_ptr<State> state = m_state;
    std::unique_lock lock(state->mutex);
    // First the resume delay, then the watch itself; either sleep restarts after any change.
    for (;;) {
        if (state->cancelled)
            return;
        const TimerClock::time_point now = m_clock.now();
        if (now >= *state->resumeAt && now >= state->deadline)
            break;
        const TimerClock::time_point until =
            now < *state->resumeAt ? *state->resumeAt : state->deadline;
        state->wake = std::stop_source();
        const std::stop_token token = state->wake.get_token();
        lock.unlock();
        m_clock.sleepUntil(until, token);
        lock.lock();
    }
    lock.unlock();

    // The firing cancels the watchdog, then acts; a cancel that comes first wins.
    m_queue.async([state] {
        const std::lock_guard running(state->runMutex);
        VEWatchdog* owner = nullptr;
        {
            const std::lock_guard stateLock(state->mutex);
            if (state->cancelled)
                return;
            owner = state->owner;
            state->cancelled = true;
            state->owner = nullptr;
        }
        state->action(*owner, state->refCon);
    });
}
