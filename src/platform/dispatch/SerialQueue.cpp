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

bool SerialQueue::drain(std::chrono::milliseconds timeout, TimerClock& clock) {
    std::unique_lock lock(m_mutex);
    const std::uint64_t target = m_submitted;
    std::uint64_t progress = m_progress;
    TimerClock::time_point deadline = clock.now() + timeout;
    for (;;) {
        if (m_finished >= target)
            return true;
        if (m_progress != progress) {
            progress = m_progress;
            deadline = clock.now() + timeout;
        } else if (clock.now() >= deadline) {
            return false;
        }
        // Registered under the lock, so a change after the checks above always wakes the sleep.
        std::stop_source wake;
        m_drainers.push_back(&wake);
        lock.unlock();
        clock.sleepUntil(deadline, wake.get_token());
        lock.lock();
        m_drainers.erase(std::find(m_drainers.begin(), m_drainers.end(), &wake));
    }
}

void SerialQueue::reportProgress() {
    std::lock_guard lock(m_mutex);
    ++m_progress;
    wakeDrainers();
}

void SerialQueue::wakeDrainers() {
    for (std::stop_source* drainer : m_drainers)
        drainer->request_stop();
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
        wakeDrainers();
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
                               std::chrono::nanoseconds leeway, std::function<void()> handler,
                               TimerClock& clock)
    : m_queue(queue), m_clock(clock), m_interval(interval), m_leeway(leeway),
      m_firing(std::make_shared<Firing>(std::move(handler))) {
    m_thread = std::jthread([this](std::stop_token stop) { run(stop); });
}

RepeatingTimer::~RepeatingTimer() {
    cancel();
}

void RepeatingTimer::cancel() {
    {
        std::lock_guard joinLock(m_joinMutex);
        m_thread.request_stop();
        if (m_thread.joinable())
            m_thread.join();
    }
    // Waits for a handler running on another thread; from the handler itself it re-enters.
    std::lock_guard runLock(m_firing->runMutex);
    m_firing->live = false;
}

TimerClock::time_point RepeatingTimer::nextDeadline(TimerClock::time_point previous,
                                                    TimerClock::time_point now,
                                                    std::chrono::nanoseconds interval) {
    TimerClock::time_point next = previous + interval;
    if (next <= now)
        next += ((now - next) / interval + 1) * interval;
    return next;
}

void RepeatingTimer::run(std::stop_token stop) {
    TimerClock::time_point deadline = m_clock.now();
    while (!stop.stop_requested()) {
        fire();
        if (m_interval <= std::chrono::nanoseconds::zero())
            return;
        deadline = nextDeadline(deadline, m_clock.now(), m_interval);
        if (!m_clock.sleepUntil(deadline, stop))
            return;
    }
}

void RepeatingTimer::fire() {
    if (m_firing->pending.exchange(true))
        return; // the previous firing has not run yet: this one joins it
    m_queue.async([firing = m_firing] {
        firing->pending.store(false);
        std::lock_guard lock(firing->runMutex);
        if (firing->live)
            firing->handler();
    });
}

} // namespace koru::platform
