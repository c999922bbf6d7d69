#pragma once

#include "platform/dispatch/TimerClock.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <stop_token>
#include <string>
#include <thread>
#include <vector>

namespace koru::platform {

// A serial queue: blocks run one at a time on the queue's own thread, in submission order.
// Exceptions thrown by a block are caught and logged; they never end the thread.
class SerialQueue {
public:
    explicit SerialQueue(std::string label);
    ~SerialQueue(); // runs what is queued, then joins

    SerialQueue(const SerialQueue&) = delete;
    SerialQueue& operator=(const SerialQueue&) = delete;

    void async(std::function<void()> block);
    // Blocks the caller until everything submitted before this call has run. Never call it from
    // a block on the same queue.
    void waitUntilIdle();
    // As waitUntilIdle, but gives up once `timeout` has passed on `clock` without a sign of life;
    // answers whether the queue caught up. For termination, where a stuck block must not hang
    // the program but a long one that reports progress (a file being written) must not be cut.
    bool drain(std::chrono::milliseconds timeout, TimerClock& clock = TimerClock::steady());
    // Called now and then by a long-running block: each call starts drain()'s timeout afresh.
    void reportProgress();
    bool isCurrentThread() const;
    const std::string& label() const { return m_label; }

private:
    void run();
    void runBlock(const std::function<void()>& block) const;
    void wakeDrainers(); // m_mutex held

    std::string m_label;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::condition_variable m_idle;
    std::deque<std::function<void()>> m_blocks;
    std::uint64_t m_submitted = 0;             // blocks ever queued
    std::uint64_t m_finished = 0;              // blocks ever run to the end (or thrown)
    std::uint64_t m_progress = 0;              // reportProgress() calls
    std::vector<std::stop_source*> m_drainers; // sleeping drain() calls, woken by any change
    bool m_stopping = false;
    std::thread m_thread;
};

// A repeating timer whose handler runs on a serial queue: first fire at once, then every
// `interval` on `clock`. A firing may be up to `leeway` late; a firing whose previous handler has
// not yet run is coalesced into it, and after a stall (a suspended machine, say) the timer fires
// once and keeps its old phase rather than firing once per lost period. A non-positive interval
// fires once.
//
// Cancelling (also by destruction) waits for a handler running on another thread, so once it
// returns the handler never runs again and what it uses may go. cancel() and the destructor may
// be called from the handler itself: the timer's own thread only ever queues work and never
// waits for the queue. Lock order: a handler that cancels another timer must not be cancelled
// by that timer's handler at the same time.
class RepeatingTimer {
public:
    RepeatingTimer(SerialQueue& queue, std::chrono::nanoseconds interval,
                   std::chrono::nanoseconds leeway, std::function<void()> handler,
                   TimerClock& clock = TimerClock::steady());
    ~RepeatingTimer();

    RepeatingTimer(const RepeatingTimer&) = delete;
    RepeatingTimer& operator=(const RepeatingTimer&) = delete;

    void cancel();
    std::chrono::nanoseconds interval() const { return m_interval; }
    std::chrono::nanoseconds leeway() const { return m_leeway; }

    // The deadline after a firing at `now` whose deadline was `previous`: one interval on, or
    // after a stall the first deadline of the old phase that is still ahead.
    static TimerClock::time_point nextDeadline(TimerClock::time_point previous,
                                               TimerClock::time_point now,
                                               std::chrono::nanoseconds interval);

private:
    // Shared by the timer and its queued firings, which may outlive it.
    struct Firing {
        explicit Firing(std::function<void()> h) : handler(std::move(h)) {}
        std::function<void()> handler;
        std::atomic<bool> pending{false}; // a firing is queued and has not started
        // Held while the handler runs, so cancelling waits for it; recursive, so the handler
        // may cancel its own timer.
        std::recursive_mutex runMutex;
        bool live = true; // guarded by runMutex
    };

    void run(std::stop_token stop);
    void fire();

    SerialQueue& m_queue;
    TimerClock& m_clock;
    std::chrono::nanoseconds m_interval;
    std::chrono::nanoseconds m_leeway;
    std::shared_ptr<Firing> m_firing;
    std::mutex m_joinMutex; // serialises joining m_thread
    std::jthread m_thread;
};

} // namespace koru::platform
