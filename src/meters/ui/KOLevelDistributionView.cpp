#include "meters/ui/KOLevelDistributionView.h"

#include "framework/YUpGeometry.h"
#include "meters/KOMeterMath.h"

#include <QPainter>

#include <cmath>
#include <limits>

using koru::framework::YUpGeometry;

KOLevelDistributionView::KOLevelDistributionView(QWidget* parent)
    : KOLevelHistoryAndDistributionView(parent),
      mMedianRMS(std::numeric_limits<double>::quiet_NaN()),
      mMedianPeak(std::numeric_limits<double>::quiet_NaN()),
      mCurrentRMS(std::numeric_limits<double>::quiet_NaN()),
      mCurrentPeak(std::numeric_limits<double>::quiet_NaN()) {}

void KOLevelDistributionView::createRMSPathWithRingBuffer(const Ring& ring) {
    mBuildingRMS.store(true, std::memory_order_relaxed);
    KOLevelHistoryAndDistributionView::createRMSPathWithRingBuffer(ring);
    mBuildingRMS.store(false, std::memory_order_relaxed);
}

QPainterPath KOLevelDistributionView::pathWithRingBuffer(const Ring& ring) const {
    const std::uint32_t bound = distributionBound();
    const double width = viewWidth();
    const auto result = koru::meters::distribution(ring, bound, float(viewHeight()));
    if (!result) {
        return {};
    }
    const bool rms = mBuildingRMS.load(std::memory_order_relaxed);
    (rms ? mMedianRMS : mMedianPeak).store(result->medianRow, std::memory_order_relaxed);
    (rms ? mCurrentRMS : mCurrentPeak).store(result->currentRow, std::memory_order_relaxed);
    const double values = double(std::min<std::size_t>(bound, ring.count()));
    const double scale = (width - 41.0) / values;
    QPainterPath path;
    path.moveTo(0.0, 0.0);
    for (std::size_t k = 0; k < result->bins.size(); ++k) {
        path.lineTo(double(result->bins[k]) * scale, 5.0 * double(k));
    }
    path.lineTo(0.0, viewHeight());
    path.lineTo(0.0, 0.0);
    return path;
}

void KOLevelDistributionView::drawContent(QPainter& painter) {
    KOLevelHistoryAndDistributionView::drawContent(painter);
    painter.save();
    YUpGeometry::flip(painter, height());
    painter.setRenderHint(QPainter::Antialiasing, true);
    painter.setPen(Qt::NoPen);
    painter.setBrush(color());
    const double x = std::floor(width() - 31.5);
    auto triangle = [&](double tipY, double direction) {
        if (!std::isfinite(tipY)) {
            return; // no distribution yet
        }
        QPainterPath path;
        path.moveTo(x, tipY);
        path.lineTo(x - 8.0 * direction, tipY + 5.0);
        path.lineTo(x - 8.0 * direction, tipY - 5.0);
        path.closeSubpath();
        painter.drawPath(path);
    };
    triangle(medianRMS(), 1.0);
    triangle(medianPeak(), 1.0);
    triangle(currentRMS(), -1.0);
    triangle(currentPeak(), -1.0);
    painter.restore();
}
