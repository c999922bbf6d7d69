#pragma once

#include "framework/KOLevelHistoryAndDistributionView.h"

#include <atomic>
#include <cstdint>

// The level history's right-hand view: a sideways histogram of the newest values, in 5-point
// bins, RMS filled and peak outlined, with the median (right-pointing) and the current level
// (left-pointing) marked. Paths and markers are built on the collector thread.
class KOLevelDistributionView : public KOLevelHistoryAndDistributionView {
    Q_OBJECT
public:
    explicit KOLevelDistributionView(QWidget* parent = nullptr);

    void setDistributionBound(std::uint32_t bound) {
        mBound.store(bound, std::memory_order_relaxed);
    }
    std::uint32_t distributionBound() const { return mBound.load(std::memory_order_relaxed); }

    // Collector thread.
    void createRMSPathWithRingBuffer(const Ring& ring) override;
    QPainterPath pathWithRingBuffer(const Ring& ring) const override;

    // Rows, in points from the bottom; NaN until a distribution was built.
    double medianRMS() const { return mMedianRMS.load(std::memory_order_relaxed); }
    double medianPeak() const { return mMedianPeak.load(std::memory_order_relaxed); }
    double currentRMS() const { return mCurrentRMS.load(std::memory_order_relaxed); }
    double currentPeak() const { return mCurrentPeak.load(std::memory_order_relaxed); }

    void drawContent(QPainter& painter) override;

protected:
    bool tracesRunAlongX() const override { return false; }

private:
    std::atomic<std::uint32_t> mBound{500};
    std::atomic<bool> mBuildingRMS{false}; // collector: which pair the markers belong to
    mutable std::atomic<double> mMedianRMS;
    mutable std::atomic<double> mMedianPeak;
    mutable std::atomic<double> mCurrentRMS;
    mutable std::atomic<double> mCurrentPeak;
};
