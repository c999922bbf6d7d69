#include "platform/dispatch/SerialQueue.h"

#include "platform/log/Log.h"

#include <algorithm>
#include <exception>
#include <utility>

namespace koru::platform {

SerialQueue::SerialQueue(std::string label) : m_label(std::move(label)) {
    m_thread = std::thread([this] { run(); });
}

SerialQueue::~SerialQueue() {
    {
        std::lock_guard lock(m_mutex);
        m_stopping = true;
    }
    m_wake.notify_one();
    m_thread.join();
}

void SerialQueue::async(std::function<void()> block) {
    {
        std::lock_guard lock(m_mutex);
        m_blocks.push_back(std::move(block));
        ++m_submitted;
    }
    m_wake.notify_one();
}

void SerialQueue::waitUntilIdle() {
    std::unique_lock lock(m_mutex);
    const std::uint64_t target = m_submitted;
    m_idle.wait(lock, [&] { return m_finished >= target; });
}

bool SerialQueue::drain(std::chrono::milliseconds timeout) {
    std::unique_lock lock(m_mutex);
    const std::uint64_t target = m_submitted;
    return m_idle.wait_for(lock, timeout, [&] { return m_finished >= target; });
}

bool SerialQueue::isCurrentThread() const {
    return std::this_thread::get_id() == m_thread.get_id();
}

void SerialQueue::run() {
    std::unique_lock lock(m_mutex);
    for (;;) {
        m_wake.wait(lock, [&] { return m_stopping || !m_blocks.empty(); });
        if (m_blocks.empty())
            return; // stopping, and everything queued has run
        std::function<void()> block = std::move(m_blocks.front());
        m_blocks.pop_front();
        lock.unlock();
        runBlock(block);
        block = nullptr; // whatever the block captured goes before waiters are told
        lock.lock();
        ++m_finished;
        m_idle.notify_all();
    }
}

void SerialQueue::runBlock(const std::function<void()>& block) const {
    try {
        block();
    } catch (const std::exception& e) {
        koru::log::error("A block on queue {} threw: {}", m_label, e.what());
    } catch (...) {
        koru::log::error("A block on queue {} threw a non-standard exception", m_label);
    }
}

RepeatingTimer::RepeatingTimer(SerialQueue& queue, std::chrono::nanoseconds interval,
                               std::chrono::nanoseconds leeway, std::function<void()> handler)
    : m_queue(queue), m_interval(interval), m_leeway(leeway),
      m_handler(std::make_shared<std::function<void()>>(std::move(handler))),
      m_pending(std::make_shared<std::atomic<bool>>(false)),
      m_live(std::make_shared<std::atomic<bool>>(true)) {
    m_thread = std::thread([this] { run(); });
}

RepeatingTimer::~RepeatingTimer() {
    cancel();
}

void RepeatingTimer::cancel() {
    {
        std::lock_guard lock(m_mutex);
        m_cancel = true;
    }
    m_live->store(false);
    m_cancelled.notify_all();
    std::lock_guard joinLock(m_joinMutex);
    if (m_thread.joinable())
        m_thread.join();
}

void RepeatingTimer::run() {
    using Clock = std::chrono::steady_clock;
    auto next = Clock::now();
    std::unique_lock lock(m_mutex);
    while (!m_cancel) {
        lock.unlock();
        fire();
        lock.lock();
        if (m_interval <= std::chrono::nanoseconds::zero())
            return;
        next += m_interval;
        // After a stall (a suspended machine, say) fire once now rather than once per lost period.
        next = std::max(next, Clock::now());
        m_cancelled.wait_until(lock, next, [&] { return m_cancel; });
    }
}

void RepeatingTimer::fire() {
    if (m_pending->exchange(true))
        return; // the previous firing has not run yet: this one joins it
    m_queue.async([handler = m_handler, pending = m_pending, live = m_live] {
        pending->store(false);
        if (live->load())
            (*handler)();
    });
}

} // namespace koru::platform
