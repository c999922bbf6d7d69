#include "KOLevelHistoryAndDistributionView.h"

#include "AntialiasedPolyline.h"
#include "KOLevelHistoryBackingLayer.h"
#include "YUpGeometry.h"

#include <QPaintEvent>
#include <QPainter>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

using koru::framework::YUpGeometry;

namespace {

std::vector<QPointF> polylineOf(const QPainterPath& path) {
    std::vector<QPointF> points;
    points.reserve(std::size_t(path.elementCount()));
    for (int i = 0; i < path.elementCount(); ++i) {
        points.emplace_back(path.elementAt(i));
    }
    return points;
}

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
    const double h = double(height());
    painter.save();
    YUpGeometry::flip(painter, h);
    mBackingLayer->drawAtPoint(painter, 0.0, 0.0);
    painter.restore();
    drawTraces(peak, rms);
    if (mTraceRows.second <= mTraceRows.first) {
        return;
    }
    const double ratio = devicePixelRatioF();
    const QRectF source(0.0, double(mTraceRows.first), double(mTraceLayer.width()),
                        double(mTraceRows.second - mTraceRows.first));
    painter.save();
    painter.setClipRect(YUpGeometry::reflected(traceClip(), h));
    painter.drawImage(
        QRectF(0.0, source.y() / ratio, source.width() / ratio, source.height() / ratio),
        mTraceLayer, source);
    painter.restore();
}

bool KOLevelHistoryAndDistributionView::tracesRunAlongX() const {
    return false;
}

// Both traces go into a layer of their own first, so that they can be clipped as one image.
// Only the rows they reach are cleared and composited: low levels leave most of it untouched.
void KOLevelHistoryAndDistributionView::drawTraces(const QPainterPath& peak,
                                                   const QPainterPath& rms) {
    const double ratio = devicePixelRatioF();
    const QSize pixels(std::max(1, int(std::ceil(width() * ratio))),
                       std::max(1, int(std::ceil(height() * ratio))));
    if (mTraceLayer.size() != pixels) {
        mTraceLayer = QImage(pixels, QImage::Format_ARGB32_Premultiplied);
        mTraceRows = {0, pixels.height()};
    }
    const QTransform toDevice = QTransform(1.0, 0.0, 0.0, -1.0, 0.0, double(height())) *
                                QTransform::fromScale(ratio, ratio);
    const QRectF reach = toDevice.mapRect(peak.boundingRect().united(rms.boundingRect()));
    const std::pair<int, int> rows = {
        std::clamp(int(std::floor(reach.top())) - 2, 0, pixels.height()),
        std::clamp(int(std::ceil(reach.bottom())) + 2, 0, pixels.height())};
    clearTraceRows(std::min(rows.first, mTraceRows.first),
                   std::max(rows.second, mTraceRows.second));
    mTraceRows = rows;
    const QColor fill = QColor::fromRgbF(float(mR), float(mG), float(mB), float(kRMSAlpha));
    if (tracesRunAlongX()) {
        koru::framework::strokeAntialiasedPolyline(mTraceLayer, polylineOf(peak), toDevice,
                                                   color());
        koru::framework::fillAntialiasedAreaUnderPolyline(mTraceLayer, polylineOf(rms), toDevice,
                                                          0.0, fill);
        return;
    }
    QPainter painter(&mTraceLayer);
    painter.setTransform(toDevice);
    painter.setRenderHint(QPainter::Antialiasing, true);
    painter.strokePath(peak, QPen(color(), 1.0));
    painter.fillPath(rms, fill);
}

void KOLevelHistoryAndDistributionView::clearTraceRows(int first, int end) {
    if (end <= first) {
        return;
    }
    std::memset(mTraceLayer.scanLine(first), 0,
                std::size_t(mTraceLayer.bytesPerLine()) * std::size_t(end - first));
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
