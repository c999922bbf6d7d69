#include "KOLevelHistoryView.h"

#include "KOLevelHistoryViewDelegate.h"
#include "utility/VEString.h"
#include "utility/ZODictionary.h"

#include <QGuiApplication>
#include <QMouseEvent>
#include <QPainter>

#include <algorithm>
#include <cmath>
#include <limits>

namespace {

constexpr unsigned kRedrawRate = 15;
constexpr double kMarkerGrabWidth = 4.0;
constexpr double kMarkerLabelGap = 2.0;
constexpr double kMarkerLabelBottom = 14.0;

} // namespace

KOLevelHistoryView::KOLevelHistoryView(QWidget* parent)
    : KOLevelHistoryAndDistributionView(parent),
      mTextAttrs(ZODictionary::fontAttributesDictionaryForSize(
          10.0, QColor::fromRgbF(0.8f, 0.8f, 0.8f, 0.5f))) {
    setRedrawRate(kRedrawRate);
}

KOLevelHistoryView::~KOLevelHistoryView() {
    if (mDraggingBound) {
        QGuiApplication::restoreOverrideCursor();
    }
}

void KOLevelHistoryView::setSpeed(double speed) {
    if (std::isnan(speed)) {
        return;
    }
    const double clamped = std::clamp(speed, kMinimumSpeed, kMaximumSpeed);
    mSpeed.store(clamped, std::memory_order_relaxed);
    update();
    if (mDelegate != nullptr) {
        mDelegate->historyViewDidChangeSpeed(float(clamped));
    }
}

QPainterPath KOLevelHistoryView::pathWithRingBuffer(const Ring& ring) const {
    const double width = viewWidth();
    const double height = viewHeight();
    const double step = speed();
    QPainterPath path(QPointF(width, 0.0));
    double x = width;
    double y = std::numeric_limits<double>::quiet_NaN();
    const std::size_t stored = ring.count();
    for (std::size_t age = 0; age < stored && x > kTraceLeftEnd; ++age, x -= step) {
        const double value = double(ring.newest(age));
        // Not-a-number is no level at all; anything else off the scale sits on its edge.
        if (std::isnan(value)) {
            continue;
        }
        y = std::clamp(std::floor(value * height), 0.0, height);
        path.lineTo(x, y);
    }
    if (std::isfinite(y)) {
        path.lineTo(x, y);
    }
    path.lineTo(x, 0.0);
    return path;
}

void KOLevelHistoryView::createRMSPathWithRingBuffer(const Ring& ring) {
    KOLevelHistoryAndDistributionView::createRMSPathWithRingBuffer(ring);
    const double scrolled = mXCounter.load(std::memory_order_relaxed) + speed();
    mXCounter.store(scrolled, std::memory_order_relaxed);
    if (scrolled > 1.0) {
        setViewIsDirty();
    }
}

double KOLevelHistoryView::markerX() const {
    return double(width()) - double(mDistributionBound) * speed();
}

QRectF KOLevelHistoryView::distributionBoundRect() const {
    return {markerX() - kMarkerGrabWidth / 2.0, 0.0, kMarkerGrabWidth, double(height())};
}

void KOLevelHistoryView::setDistributionBound(std::uint32_t bound) {
    mDistributionBound = bound;
    update();
}

void KOLevelHistoryView::setDistributionBoundInSeconds(const QString& text) {
    mDistributionBoundInSeconds = text;
    update();
}

void KOLevelHistoryView::setShowDistributionTimeMarker(bool show) {
    mShowDistributionTimeMarker = show;
    update();
}

void KOLevelHistoryView::drawContent(QPainter& painter) {
    KOLevelHistoryAndDistributionView::drawContent(painter);
    if (!mShowDistributionTimeMarker) {
        return;
    }
    const double x = markerX();
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing, false);
    painter.setPen(QPen(QColor::fromRgbF(1.0f, 1.0f, 1.0f, 0.5f), 1.0));
    painter.drawLine(QPointF(x, 0.0), QPointF(x, double(height())));
    painter.restore();
    VEString::drawRightAlignedAtPoint(painter, mDistributionBoundInSeconds,
                                      QPointF(x - kMarkerLabelGap, kMarkerLabelBottom), mTextAttrs);
}

void KOLevelHistoryView::paintEvent(QPaintEvent* event) {
    KOLevelHistoryAndDistributionView::paintEvent(event);
    mXCounter.store(0.0, std::memory_order_relaxed);
}

void KOLevelHistoryView::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton || !distributionBoundRect().contains(event->position())) {
        KOLevelHistoryAndDistributionView::mousePressEvent(event);
        return;
    }
    mDraggingBound = true;
    QGuiApplication::setOverrideCursor(Qt::ClosedHandCursor);
}

void KOLevelHistoryView::mouseMoveEvent(QMouseEvent* event) {
    if (mDraggingBound) {
        dragBoundTo(event->position().x());
        return;
    }
    if (distributionBoundRect().contains(event->position())) {
        setCursor(Qt::SizeHorCursor);
    } else {
        unsetCursor();
    }
    KOLevelHistoryAndDistributionView::mouseMoveEvent(event);
}

void KOLevelHistoryView::mouseReleaseEvent(QMouseEvent* event) {
    if (!mDraggingBound || event->button() != Qt::LeftButton) {
        KOLevelHistoryAndDistributionView::mouseReleaseEvent(event);
        return;
    }
    endBoundDrag();
}

// The bound is counted in display values, so the pointer's distance from the right edge is
// divided by the speed; left of the edge only.
void KOLevelHistoryView::dragBoundTo(double x) {
    if (mDelegate == nullptr) {
        return;
    }
    const double span = std::max(0.0, double(width()) - x) / speed();
    mDelegate->setDistributionBound(
        std::uint32_t(std::min(span, double(std::numeric_limits<std::uint32_t>::max()))));
}

void KOLevelHistoryView::endBoundDrag() {
    mDraggingBound = false;
    QGuiApplication::restoreOverrideCursor();
}
