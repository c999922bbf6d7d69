#pragma once

#include "zotools/ZORingBuffer.h"

#include <array>
#include <atomic>
#include <cstdint>
#include <optional>
#include <vector>

namespace koru::meters {

// The peak programme meter's scale: (max(0, (L + 96)/97))³, so 0 dBFS sits just below the top
// and +1 dB reaches it.
float ppmFraction(float decibels);
// The level history's scale: (max(0, (L + 96)/96))³.
float historyFraction(float decibels);

// Latching clip indicators of up to 256 meters. The meter thread latches; the window's reset
// and a click on the clip notification clear them from the main thread.
class ClipLatches {
public:
    static constexpr std::size_t kChannels = 256;
    static constexpr float kClipDecibels = -0.01f;

    // Latches `channel` when its peak reached the clip level; answers whether it is latched.
    bool update(std::uint32_t channel, float peakDecibels);
    bool isClipped(std::uint32_t channel) const;
    void reset();

private:
    std::array<std::atomic<bool>, kChannels> mClipped{};
};

// The sideways histogram of the level distribution view.
struct Distribution {
    std::vector<int> bins; // counts per 5-point bin, bottom first
    int medianRow = 1;
    int currentRow = 0;
};
// The B newest values of `ring` in a view `height` points high; nothing when the ring is
// empty, B is outside 1..2499 or the view is lower than 5 points. Only stored values are read.
std::optional<Distribution> distribution(const ZORingBuffer<float, 2500>& ring, std::uint32_t bound,
                                         float height);

} // namespace koru::meters
