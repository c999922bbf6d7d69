#include "platform/audio/PacedThread.h"

#include <cerrno>
#include <ctime>

namespace koru::platform {

namespace {

std::int64_t monotonicNow() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return std::int64_t(now.tv_sec) * 1'000'000'000 + now.tv_nsec;
}

void sleepUntil(std::int64_t deadline) {
    timespec target{};
    target.tv_sec = time_t(deadline / 1'000'000'000);
    target.tv_nsec = long(deadline % 1'000'000'000);
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &target, nullptr) == EINTR) {
    }
}

} // namespace

void PacedThread::start(double sampleRate, std::uint32_t periodFrames, std::function<void()> tick) {
    stop();
    m_tick = std::move(tick);
    m_stop.store(false);
    m_thread = std::thread([this, sampleRate, periodFrames] { run(sampleRate, periodFrames); });
}

void PacedThread::stop() noexcept {
    m_stop.store(true);
    if (m_thread.joinable())
        m_thread.join();
}

void PacedThread::run(double sampleRate, std::uint32_t periodFrames) {
    const double periodNs = 1e9 * double(periodFrames) / sampleRate;
    std::int64_t origin = monotonicNow();
    std::uint64_t ticks = 0;
    while (!m_stop.load(std::memory_order_relaxed)) {
        ++ticks;
        const std::int64_t deadline = origin + std::int64_t(double(ticks) * periodNs);
        sleepUntil(deadline);
        if (m_stop.load(std::memory_order_relaxed))
            break;
        m_tick();
        if (monotonicNow() - deadline > 1'000'000'000) {
            origin = monotonicNow();
            ticks = 0;
        }
    }
}

} // namespace koru::platform
