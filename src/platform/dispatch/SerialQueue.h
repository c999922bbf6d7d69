#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
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
    bool isCurrentThread() const;
    const std::string& label() const { return m_label; }

private:
    void run();

    std::string m_label;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::condition_variable m_idle;
    std::deque<std::function<void()>> m_blocks;
    bool m_running = false; // a block is executing
    bool m_stopping = false;
    std::thread m_thread;
};

// A repeating timer whose handler runs on a serial queue: first fire at once, then every
// `interval`. A firing may be up to `leeway` late; a firing whose previous handler has not yet
// run is coalesced into it. Cancelled (and waited for) on destruction.
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

    SerialQueue& m_queue;
    std::chrono::nanoseconds m_interval;
    std::chrono::nanoseconds m_leeway;
    std::shared_ptr<std::function<void()>> m_handler;
    std::shared_ptr<std::atomic<bool>> m_pending; // a firing is queued and not yet run
    std::mutex m_mutex;
    std::condition_variable m_cancelled;
    bool m_cancel = false;
    std::thread m_thread;
};

} // namespace koru::platform
