#pragma once

#include <cstdint>

// What the level history view tells its controller: a new speed, and the span the user dragged
// the distribution marker to (in display values). The view's own bound follows only when the
// controller sets it back.
class KOLevelHistoryViewDelegate {
public:
    virtual ~KOLevelHistoryViewDelegate() = default;
    virtual void historyViewDidChangeSpeed(float speed) = 0;
    // Optional; ignored unless overridden.
    virtual void setDistributionBound(std::uint32_t bound) { (void)bound; }
};
