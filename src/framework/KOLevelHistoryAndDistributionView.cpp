#include "KOLevelHistoryAndDistributionView.h"

#include "KOLevelHistoryBackingLayer.h"
#include "YUpGeometry.h"

#include <QPaintEvent>
#include <QPainter>

using koru::framework::YUpGeometry;

namespace {

constexpr double kFullScaleExponent = 3.0;
constexpr double kSplExponent = 1.0;
constexpr double kRMSAlpha = 0.7;

} // namespace

KOLevelHistoryAndDistributionView::KOLevelHistoryAndDistributionView(QWidget* parent)
    : KOInstrumentBackgroundView(parent) {}

KOLevelHistoryAndDistributionView::~KOLevelHistoryAndDistributionView() = default;

void KOLevelHistoryAndDistributionView::setLowerBound(float minDB, float maxDB) {
    mMinValue = minDB;
    mMaxValue = maxDB;
    createBackingLayer();
    update();
}

void KOLevelHistoryAndDistributionView::setColor(const QColor& colour) {
    mR = colour.redF();
    mG = colour.greenF();
    mB = colour.blueF();
    update();
}

QColor KOLevelHistoryAndDistributionView::color() const {
    return QColor::fromRgbF(float(mR), float(mG), float(mB), 1.0f);
}

void KOLevelHistoryAndDistributionView::createBackingLayer() {
    const double layerWidth = width() == 0 ? 20.0 : double(width());
    const double exponent = mMinValue <= 0.0f ? kFullScaleExponent : kSplExponent;
    mBackingLayer = std::make_unique<KOLevelHistoryBackingLayer>(
        KOLevelHistoryBackingLayer::kLabelsLeft, layerWidth, double(height()), double(mMinValue),
        double(mMaxValue), exponent, devicePixelRatioF());
}

void KOLevelHistoryAndDistributionView::createPeakPathWithRingBuffer(const Ring& ring) {
    QPainterPath path = pathWithRingBuffer(ring);
    const std::lock_guard lock(mPathLock);
    mPeakPath.swap(path);
}

void KOLevelHistoryAndDistributionView::createRMSPathWithRingBuffer(const Ring& ring) {
    QPainterPath path = pathWithRingBuffer(ring);
    const std::lock_guard lock(mPathLock);
    mRMSPath.swap(path);
}

QPainterPath KOLevelHistoryAndDistributionView::pathWithRingBuffer(const Ring&) const {
    return {};
}

QPainterPath KOLevelHistoryAndDistributionView::peakPath() const {
    const std::lock_guard lock(mPathLock);
    return mPeakPath;
}

QPainterPath KOLevelHistoryAndDistributionView::rmsPath() const {
    const std::lock_guard lock(mPathLock);
    return mRMSPath;
}

void KOLevelHistoryAndDistributionView::drawContent(QPainter& painter) {
    if (mBackingLayer == nullptr) {
        createBackingLayer();
    }
    QPainterPath peak;
    QPainterPath rms;
    {
        const std::lock_guard lock(mPathLock);
        peak = mPeakPath;
        rms = mRMSPath;
    }
    painter.save();
    YUpGeometry::flip(painter, double(height()));
    mBackingLayer->drawAtPoint(painter, 0.0, 0.0);
    painter.setClipRect(traceClip());
    painter.setRenderHint(QPainter::Antialiasing, true);
    painter.strokePath(peak, QPen(color(), 1.0));
    painter.fillPath(rms, QColor::fromRgbF(float(mR), float(mG), float(mB), float(kRMSAlpha)));
    painter.restore();
}

// The plot rectangle keeps the traces off the labels. With no labels on the right it ends short
// of the view's edge, where the newest value stands: the traces run on to the edge.
QRectF KOLevelHistoryAndDistributionView::traceClip() const {
    QRectF clip = mBackingLayer->plotRect();
    if ((mBackingLayer->labelFlags() & KOLevelHistoryBackingLayer::kLabelsRight) == 0) {
        clip.setRight(mBackingLayer->frame().width());
    }
    return clip;
}

void KOLevelHistoryAndDistributionView::paintEvent(QPaintEvent* event) {
    KOInstrumentBackgroundView::paintEvent(event);
    QPainter painter(this);
    drawContent(painter);
}

void KOLevelHistoryAndDistributionView::resizeEvent(QResizeEvent* event) {
    mViewWidth.store(double(width()), std::memory_order_relaxed);
    mViewHeight.store(double(height()), std::memory_order_relaxed);
    KOInstrumentBackgroundView::resizeEvent(event);
}
