#include "platform/audio/StreamPaceWatch.h"

#include <algorithm>

namespace koru::platform {

StreamPaceWatch::StreamPaceWatch(MonotonicClock& clock, double sampleRate)
    : m_clock(&clock), m_framesPerNanosecond(sampleRate * (1.0 + kRateMargin) / 1e9),
      m_tolerance(sampleRate * kToleranceSeconds) {}

bool StreamPaceWatch::admit(std::uint32_t frames) noexcept {
    const std::int64_t now = m_clock->nowNanoseconds();
    if (!m_started) {
        m_started = true;
        m_lead = 0.0;
    } else {
        m_lead -= double(now - m_last) * m_framesPerNanosecond;
        m_lead = std::max(m_lead, -m_tolerance);
    }
    m_last = now;
    m_lead += double(frames);
    return m_lead <= m_tolerance;
}

bool StreamStallWatch::stalled(std::uint64_t deliveries, std::int64_t nowNanoseconds) noexcept {
    if (!m_started || deliveries != m_deliveries) {
        m_started = true;
        m_deliveries = deliveries;
        m_since = nowNanoseconds;
        return false;
    }
    return double(nowNanoseconds - m_since) > kStallSeconds * 1e9;
}

} // namespace koru::platform
