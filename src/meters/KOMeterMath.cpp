#include "meters/KOMeterMath.h"

#include <algorithm>
#include <cmath>

namespace koru::meters {

float ppmFraction(float decibels) {
    if (!std::isfinite(decibels)) {
        return 0.0f;
    }
    const float linear = std::max(0.0f, (decibels + 96.0f) / 97.0f);
    return linear * linear * linear;
}

float historyFraction(float decibels) {
    if (!std::isfinite(decibels)) {
        return 0.0f;
    }
    const float linear = float(std::max(0.0, double(decibels + 96.0f) / 96.0));
    return linear * linear * linear;
}

bool ClipLatches::update(std::uint32_t channel, float peakDecibels) {
    if (channel >= kChannels) {
        return false;
    }
    if (peakDecibels >= kClipDecibels) {
        mClipped[channel].store(true, std::memory_order_relaxed);
    }
    return mClipped[channel].load(std::memory_order_relaxed);
}

bool ClipLatches::isClipped(std::uint32_t channel) const {
    return channel < kChannels && mClipped[channel].load(std::memory_order_relaxed);
}

void ClipLatches::reset() {
    for (auto& clipped : mClipped) {
        clipped.store(false, std::memory_order_relaxed);
    }
}

std::optional<Distribution> distribution(const ZORingBuffer<float, 2500>& ring, std::uint32_t bound,
                                         float height) {
    const int h = int(std::floor(height));
    if (bound == 0 || bound > 2499 || h < 5 || ring.count() == 0) {
        return std::nullopt;
    }
    const std::size_t values = std::min<std::size_t>(bound, ring.count());
    const int binCount = h / 5;
    Distribution result;
    result.bins.assign(std::size_t(binCount), 0);
    std::vector<int> rows(std::size_t(h), 0);
    auto rowOf = [height](float value) {
        const float scaled = value * height;
        return std::isfinite(scaled) ? std::max(0, int(std::floor(scaled))) : 0;
    };
    result.currentRow = rowOf(ring.newest(0));
    for (std::size_t age = 0; age < values; ++age) {
        const int row = rowOf(ring.newest(age));
        ++result.bins[std::size_t(std::min(binCount - 1, row / 5))];
        ++rows[std::size_t(std::min(h - 1, row))];
    }
    const int half = int(values / 2);
    int sum = 0;
    result.medianRow = 1;
    for (int r = h - 1; r >= 1; --r) {
        sum += rows[std::size_t(r)];
        if (sum >= half) {
            result.medianRow = r;
            break;
        }
    }
    return result;
}

} // namespace koru::meters
