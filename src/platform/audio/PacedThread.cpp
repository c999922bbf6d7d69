#include "platform/audio/PacedThread.h"

namespace koru::platform {

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
    std::int64_t origin = m_clock.nowNanoseconds();
    std::uint64_t ticks = 0;
    while (!m_stop.load(std::memory_order_relaxed)) {
        ++ticks;
        const std::int64_t deadline = origin + std::int64_t(double(ticks) * periodNs);
        m_clock.sleepUntil(deadline);
        if (m_stop.load(std::memory_order_relaxed))
            break;
        m_tick();
        if (m_clock.nowNanoseconds() - deadline > kStallNanoseconds) {
            origin = m_clock.nowNanoseconds();
            ticks = 0;
        }
    }
}

} // namespace koru::platform
