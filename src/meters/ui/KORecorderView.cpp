#include "meters/ui/KORecorderView.h"

#include "framework/YUpGeometry.h"
#include "platform/exceptions/FrameworkException.h"

#include <QPaintEvent>
#include <QPainter>
#include <QResizeEvent>

#include <algorithm>
#include <cmath>

using koru::framework::YUpGeometry;

KORecorderView::KORecorderView(QWidget* parent) : KOInstrumentBackgroundView(parent) {}

void KORecorderView::setNumChannels(std::uint32_t n) {
    {
        const std::lock_guard lock(objectLock());
        mRingBuffers.clear();
        mPendingPeaks.clear();
        mWaveformLayer = QImage();
        if (n == 0) {
            throw koru::platform::FrameworkException(
                QStringLiteral("Num Channels is 0"),
                QStringLiteral("Number of channels is recorder view - 0 is not a alowed value"));
        }
        for (std::uint32_t k = 0; k < n; ++k) {
            auto ring = std::make_unique<Ring>();
            for (std::size_t i = 0; i < kRingLength; ++i)
                ring->Push(0.0f);
            mRingBuffers.push_back(std::move(ring));
        }
        mPendingPeaks.assign(n, 0.0f);
    }
    resize(width(), std::min(kStripHeight * int(n), kMaxHeight));
    // A hidden view gets its resize event only when shown; the collector needs the size now.
    mWidth.store(width(), std::memory_order_relaxed);
    mHeight.store(height(), std::memory_order_relaxed);
}

std::uint32_t KORecorderView::numChannels() const {
    const std::lock_guard lock(objectLock());
    return std::uint32_t(mRingBuffers.size());
}

float KORecorderView::displayValue(float peak) {
    // NaN compares false and falls to the floor too.
    return std::sqrt(peak > 1e-6f ? peak : 1e-6f);
}

void KORecorderView::setPeakSamples(const float* peaks, std::uint32_t count) {
    const std::uint32_t previous = mDeadCounter++;
    double w = 0.0;
    double h = 0.0;
    {
        const std::lock_guard lock(objectLock());
        for (std::size_t k = 0; k < mPendingPeaks.size(); ++k) {
            const float peak = peaks && k < count ? peaks[k] : 0.0f;
            if (peak > mPendingPeaks[k])
                mPendingPeaks[k] = peak;
        }
        if (previous % 3 != 0)
            return;
        for (std::size_t k = 0; k < mRingBuffers.size(); ++k) {
            mRingBuffers[k]->Push(displayValue(mPendingPeaks[k]));
            mPendingPeaks[k] = 0.0f;
        }
        if (!mWaveformLayer.isNull() || mRingBuffers.empty())
            return;
        w = mWidth.load(std::memory_order_relaxed);
        h = mHeight.load(std::memory_order_relaxed);
        if (w < 1.0 || h < 1.0)
            return;
        renderLayer(w, h);
    }
    setViewIsDirty();
}

void KORecorderView::renderLayer(double w, double h) {
    QImage layer(int(std::ceil(w)), int(std::ceil(h)), QImage::Format_ARGB32_Premultiplied);
    layer.fill(Qt::transparent);
    QPainter painter(&layer);
    YUpGeometry::flip(painter, h);
    painter.setRenderHint(QPainter::Antialiasing, false);
    const QColor fill = QColor::fromRgbF(float(mR), float(mG), float(mB), 0.9f);
    const auto n = std::uint32_t(mRingBuffers.size());
    for (std::uint32_t k = 0; k < n; ++k) {
        QPainterPath path;
        drawPath(path, *mRingBuffers[k], k, n, w, h);
        painter.fillPath(path, fill);
    }
    const double s = h / n;
    painter.setPen(QPen(QColor::fromRgbF(1.0f, 1.0f, 1.0f, 0.4f), 1.0));
    for (std::uint32_t k = 0; k < n; ++k)
        painter.drawLine(QPointF(0, k * s), QPointF(w, k * s));
    painter.end();
    mWaveformLayer = std::move(layer);
}

void KORecorderView::drawPath(QPainterPath& path, const Ring& ring, std::uint32_t k,
                              std::uint32_t n, double w, double h) {
    if (n == 0)
        return;
    const double s = h / n;
    const double yc = h - k * s - s / 2;
    const double scale = 0.45 * s;
    // Newest first, until the left edge or the oldest value.
    std::vector<QPointF> upper;
    double x = w;
    for (std::size_t age = 0; age < ring.count() && x > 0.0; ++age, x -= kPointsPerValue)
        upper.emplace_back(x, ring.newest(age));
    if (upper.empty())
        return;
    const double lastX = upper.back().x();
    QPainterPath envelope(QPointF(w, yc));
    for (const QPointF& p : upper)
        envelope.lineTo(p.x(), yc + p.y() * scale);
    envelope.lineTo(lastX, yc);
    for (auto it = upper.rbegin(); it != upper.rend(); ++it)
        envelope.lineTo(it->x(), yc - it->y() * scale);
    envelope.closeSubpath();
    path.addPath(envelope);
}

float KORecorderView::ringValue(std::uint32_t k, std::size_t age) const {
    const std::lock_guard lock(objectLock());
    if (k >= mRingBuffers.size() || age >= mRingBuffers[k]->count())
        return 0.0f;
    return mRingBuffers[k]->newest(age);
}

bool KORecorderView::hasPendingLayer() const {
    const std::lock_guard lock(objectLock());
    return !mWaveformLayer.isNull();
}

QImage KORecorderView::pendingLayer() const {
    const std::lock_guard lock(objectLock());
    return mWaveformLayer.copy();
}

void KORecorderView::resizeEvent(QResizeEvent* event) {
    KOInstrumentBackgroundView::resizeEvent(event);
    mWidth.store(width(), std::memory_order_relaxed);
    mHeight.store(height(), std::memory_order_relaxed);
}

void KORecorderView::paintEvent(QPaintEvent* event) {
    KOInstrumentBackgroundView::paintEvent(event);
    const std::lock_guard lock(objectLock());
    if (mWaveformLayer.isNull())
        return;
    QPainter painter(this);
    painter.drawImage(QPointF(0, 0), mWaveformLayer);
    mWaveformLayer = QImage();
}
