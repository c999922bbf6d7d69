#include "meters/ui/KOMeterViews.h"

#include "framework/YUpGeometry.h"
#include "meters/KOMeterMath.h"

#include <QLinearGradient>
#include <QMetaObject>
#include <QPainter>
#include <QPainterPath>

#include <algorithm>
#include <cmath>
#include <numbers>

using koru::framework::YUpGeometry;

// ---- peak programme meters ---------------------------------------------------------------------

KODeviceInPPMView::KODeviceInPPMView(QWidget* parent) : QWidget(parent) {
    setMinimumSize(24, 60);
}

void KODeviceInPPMView::setMeters(std::vector<Meter> meters) {
    mMeters = std::move(meters);
    update();
}

void KODeviceInPPMView::drawContent(QPainter& painter, QSize size) const {
    painter.fillRect(QRect(QPoint(0, 0), size), Qt::black);
    if (mMeters.empty() || size.width() <= 0 || size.height() <= kClipBoxHeight) {
        return; // no visible channel: nothing to divide the width by
    }
    painter.save();
    YUpGeometry::flip(painter, size.height());
    const double slot = double(size.width()) / double(mMeters.size());
    const double barWidth = std::max(1.0, slot - 2.0);
    const double scale = double(size.height() - kClipBoxHeight - 2);
    QLinearGradient gradient(0.0, 0.0, 0.0, scale);
    gradient.setColorAt(0.0, QColor(0, 160, 0));
    gradient.setColorAt(0.75, QColor(230, 220, 0));
    gradient.setColorAt(1.0, QColor(230, 30, 0));
    for (std::size_t k = 0; k < mMeters.size(); ++k) {
        const Meter& meter = mMeters[k];
        const double x = double(k) * slot + 1.0;
        if (std::isfinite(meter.rms)) {
            const double top = scale * koru::meters::ppmFraction(meter.rms);
            painter.fillRect(QRectF(x, 0.0, barWidth, top), gradient);
        }
        const float peak = std::isnan(meter.peak) ? -144.0f : meter.peak;
        const double peakY = scale * koru::meters::ppmFraction(peak);
        if (peakY > 0.0) {
            painter.fillRect(QRectF(x, std::max(0.0, peakY - 2.0), barWidth, 2.0), Qt::white);
        }
        const QRectF clipBox(x, size.height() - kClipBoxHeight, barWidth, kClipBoxHeight);
        painter.fillRect(clipBox, meter.clipped ? QColor(255, 0, 0) : QColor(60, 0, 0));
    }
    painter.restore();
}

void KODeviceInPPMView::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    drawContent(painter, size());
}

// ---- goniometer --------------------------------------------------------------------------------

KOGoniometerView::KOGoniometerView(QWidget* parent) : QWidget(parent) {
    setMinimumSize(100, 100);
}

void KOGoniometerView::drawBlock(const KOGoniometerInstrument::Block& block, QSize size) {
    const float m = std::max(KOGoniometerInstrument::MaxMagnitude(block.a.data(), block.frames),
                             KOGoniometerInstrument::MaxMagnitude(block.b.data(), block.frames));
    const float correlation =
        KOGoniometerInstrument::Correlation(block.a.data(), block.b.data(), block.frames);
    std::lock_guard lock(mLock);
    if (mPicture.size() != size) {
        mPicture = QImage(size, QImage::Format_ARGB32_Premultiplied);
        mPicture.fill(Qt::black);
    }
    mGain = KOGoniometerInstrument::NextGain(mGain, m);
    mCorrelation = correlation;
    const float gain = KOGoniometerInstrument::DrawnGain(mGain);
    QPainter painter(&mPicture);
    painter.fillRect(mPicture.rect(), QColor(0, 0, 0, 38)); // the older points fade
    YUpGeometry::flip(painter, size.height());
    const double radius = std::min(size.width(), size.height()) / 2.0 * 0.707;
    const QPointF centre(size.width() / 2.0, size.height() / 2.0);
    QPainterPath path;
    for (std::uint32_t i = 0; 2 * i < block.frames; ++i) {
        const double a = double(block.a[2 * i]) * gain;
        const double b = double(block.b[2 * i]) * gain;
        // Turned by 45°: equal channels stand upright, A alone leans up-left.
        const QPointF point(centre.x() + (b - a) / std::numbers::sqrt2 * radius,
                            centre.y() + (a + b) / std::numbers::sqrt2 * radius);
        if (i == 0) {
            path.moveTo(point);
        } else {
            path.lineTo(point);
        }
    }
    painter.setPen(QPen(QColor(0, 255, 0), 1.0));
    painter.drawPath(path);
}

float KOGoniometerView::correlation() const {
    std::lock_guard lock(mLock);
    return mCorrelation;
}

float KOGoniometerView::gain() const {
    std::lock_guard lock(mLock);
    return mGain;
}

QImage KOGoniometerView::picture() const {
    std::lock_guard lock(mLock);
    return mPicture;
}

void KOGoniometerView::drawContent(QPainter& painter, QSize size) const {
    painter.fillRect(QRect(QPoint(0, 0), size), Qt::black);
    const QImage image = picture();
    painter.drawImage(QPoint(0, 0), image);
    const float c = correlation();
    painter.save();
    YUpGeometry::flip(painter, size.height());
    const double w = size.width();
    painter.fillRect(QRectF(0.0, 0.0, w, kCorrelationBand), QColor(30, 30, 30));
    if (std::isfinite(c)) {
        // A band of 0.08 on the inner side of the value: green for in phase, red against it.
        const double from = c > 0.0f ? c - 0.08 : c;
        const double to = c > 0.0f ? c : c + 0.08;
        const double half = w / 2.0 - 23.0;
        const double x0 = half * from + w / 2.0;
        const double x1 = half * to + w / 2.0;
        painter.fillRect(QRectF(x0, 4.0, std::max(1.0, x1 - x0), kCorrelationBand - 8),
                         c > 0.0f ? QColor(0, 220, 0) : QColor(230, 0, 0));
    }
    painter.restore();
}

void KOGoniometerView::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    drawContent(painter, size());
}

// ---- oscilloscope ------------------------------------------------------------------------------

KOOscilloscopeView::KOOscilloscopeView(QWidget* parent) : QWidget(parent) {
    setMinimumSize(100, 100);
    mPointWidth.store(double(width()));
}

void KOOscilloscopeView::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    mPointWidth.store(double(width()), std::memory_order_relaxed);
}

void KOOscilloscopeView::setTraces(std::vector<float> a, std::vector<float> b) {
    {
        std::lock_guard lock(mLock);
        mA = std::move(a);
        mB = std::move(b);
    }
    // The collector hands traces over; widgets are repainted from the main thread only.
    QMetaObject::invokeMethod(this, qOverload<>(&QWidget::update), Qt::QueuedConnection);
}

std::vector<float> KOOscilloscopeView::traceA() const {
    std::lock_guard lock(mLock);
    return mA;
}

void KOOscilloscopeView::setColours(const QColor& a, const QColor& b) {
    mColourA = a;
    mColourB = b;
    update();
}

void KOOscilloscopeView::drawContent(QPainter& painter, QSize size) const {
    const double w = size.width();
    const double h = size.height();
    painter.fillRect(QRect(QPoint(0, 0), size), Qt::black);
    painter.save();
    YUpGeometry::flip(painter, h);
    QPen grid(QColor(90, 90, 90), 1.0);
    for (double x = kDivision; x < w; x += kDivision) {
        painter.setPen(grid);
        painter.drawLine(QPointF(x + 0.5, 0.0), QPointF(x + 0.5, h));
    }
    QPen dashed(QColor(70, 70, 70), 1.0);
    dashed.setDashPattern({1.0, 3.0});
    for (int k = -9; k <= 9; ++k) {
        const double y = std::floor(h / 2.0 + k * h / 20.0) + 0.5;
        painter.setPen(k == 0 ? grid : dashed);
        painter.drawLine(QPointF(0.0, y), QPointF(w, y));
    }
    std::lock_guard lock(mLock);
    auto trace = [&](const std::vector<float>& values, const QColor& colour) {
        if (values.empty()) {
            return;
        }
        const double n = double(values.size());
        QPainterPath path;
        for (std::size_t i = 0; i < values.size(); ++i) {
            const double v = std::isfinite(values[i]) ? values[i] : 0.0;
            const QPointF point(double(i) * w / n + 0.5, v * h / 2.0 + h / 2.0);
            if (i == 0) {
                path.moveTo(point);
            } else {
                path.lineTo(point);
            }
        }
        painter.setPen(QPen(colour, 1.0));
        painter.drawPath(path);
    };
    trace(mA, mColourA);
    trace(mB, mColourB);
    painter.restore();
}

void KOOscilloscopeView::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    drawContent(painter, size());
}
