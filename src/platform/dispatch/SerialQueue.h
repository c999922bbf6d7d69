#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

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
    // As waitUntilIdle, but gives up after `timeout`; answers whether the queue caught up. For
    // termination, where a stuck block must not hang the program.
    bool drain(std::chrono::milliseconds timeout);
    bool isCurrentThread() const;
    const std::string& label() const { return m_label; }

private:
    void run();
    void runBlock(const std::function<void()>& block) const;

    std::string m_label;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::condition_variable m_idle;
    std::deque<std::function<void()>> m_blocks;
    std::uint64_t m_submitted = 0; // blocks ever queued
    std::uint64_t m_finished = 0;  // blocks ever run to the end (or thrown)
    bool m_stopping = false;
    std::thread m_thread;
};

// A repeating timer whose handler runs on a serial queue: first fire at once, then every
// `interval`. A firing may be up to `leeway` late; a firing whose previous handler has not yet
// run is coalesced into it. A non-positive interval fires once. Cancelled (and waited for) on
// destruction. cancel() and the destructor may be called from the handler itself: the timer's
// own thread only ever queues work and never waits for the queue.
class RepeatingTimer {
public:
    RepeatingTimer(SerialQueue& queue, std::chrono::nanoseconds interval,
                   std::chrono::nanoseconds leeway, std::function<void()> handler);
    ~RepeatingTimer();

    RepeatingTimer(const RepeatingTimer&) = delete;
    RepeatingTimer& operator=(const RepeatingTimer&) = delete;

    void cancel();
    std::chrono::nanoseconds interval() const { return m_interval; }
    std::chrono::nanoseconds leeway() const { return m_leeway; }

private:
    void run();
    void fire();

    SerialQueue& m_queue;
    std::chrono::nanoseconds m_interval;
    std::chrono::nanoseconds m_leeway;
    std::shared_ptr<std::function<void()>> m_handler;
    std::shared_ptr<std::atomic<bool>> m_pending; // a firing is queued and not yet run
    std::shared_ptr<std::atomic<bool>> m_live;    // cleared by cancel; queued firings check it
    std::mutex m_joinMutex; // serialises joining m_thread; never held with m_mutex
    std::mutex m_mutex;     // guards m_cancel; released before queueing a firing
    std::condition_variable m_cancelled;
    bool m_cancel = false;
    std::thread m_thread;
};

} // namespace koru::platform
