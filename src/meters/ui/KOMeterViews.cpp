#include "meters/ui/KOMeterViews.h"

#include "framework/KOColorAdditions.h"
#include "framework/YUpGeometry.h"
#include "meters/KOMeterMath.h"

#include <QLinearGradient>
#include <QMetaObject>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>

#include <algorithm>
#include <cmath>
#include <numbers>

using koru::framework::YUpGeometry;

// ---- peak programme meters ---------------------------------------------------------------------

namespace {

QFont meterFont(int pixels) {
    QFont font(QStringLiteral("Helvetica"));
    font.setPixelSize(pixels);
    return font;
}

// Text turned to read upwards, its baseline's start at `origin` (y-up): it occupies the strip
// left of origin.x, from origin.y up.
void fillUpwardText(QPainter& flipped, const QString& text, const QFont& font, QPointF origin,
                    const QColor& colour) {
    flipped.save();
    flipped.translate(origin);
    flipped.rotate(90.0);
    YUpGeometry::fillText(flipped, text, font, QPointF(0.0, 0.0), colour);
    flipped.restore();
}

const QColor kScaleStroke = QColor::fromRgbF(0.6f, 0.6f, 0.6f, 0.5f);
const QColor kScaleText = QColor::fromRgbF(1.0f, 1.0f, 1.0f, 0.8f);

} // namespace

KODeviceInPPMView::KODeviceInPPMView(QWidget* parent) : KOInstrumentBackgroundView(parent) {
    setMinimumSize(24, 60);
}

void KODeviceInPPMView::setMeters(std::vector<Meter> meters) {
    mMeters = std::move(meters);
    update();
}

void KODeviceInPPMView::setDrawLabels(bool draw) {
    mDrawLabels = draw;
    update();
}

double KODeviceInPPMView::preferredWidth(std::size_t count) {
    const float n = float(count);
    return double((n - 1.0f) + 32.0f * n + 32.0f);
}

double KODeviceInPPMView::minWidth(std::size_t count) {
    const float n = float(count);
    return double((n - 1.0f) + 11.0f * n + 22.0f);
}

double KODeviceInPPMView::meterWidth(QSize size, std::size_t count) {
    if (count == 0) {
        return 0.0; // no visible channel: nothing to divide the width by
    }
    const double across = size.width() > size.height() ? size.height() : size.width();
    return std::max(1.0, std::min(kMaxMeterWidth, (across - kScaleMargin) / double(count)));
}

bool KODeviceInPPMView::isClipResetPoint(QPointF point, QSize size) {
    if (size.width() > size.height()) {
        return point.x() > size.width() - kClipResetBand;
    }
    return point.y() < kClipResetBand;
}

void KODeviceInPPMView::mousePressEvent(QMouseEvent* event) {
    if (isClipResetPoint(event->position(), size())) {
        emit clipResetRequested();
    }
    KOInstrumentBackgroundView::mousePressEvent(event);
}

void KODeviceInPPMView::drawContent(QPainter& painter, QSize size) const {
    painter.fillRect(QRect(QPoint(0, 0), size), Qt::black);
    const bool turned = size.width() > size.height();
    const double along = turned ? size.width() : size.height();
    const double scale = along - kNameMargin - kClipBoxHeight - 2.0;
    if (size.isEmpty() || scale <= 0.0) {
        return;
    }
    painter.save();
    // Horizontal meters are the vertical ones turned clockwise: their top lies on the right.
    if (turned) {
        painter.translate(size.width(), 0.0);
        painter.rotate(90.0);
    }
    YUpGeometry::flip(painter, along);
    const double column = meterWidth(size, mMeters.size());
    const double barWidth = std::max(1.0, column - kSpacing);
    auto heightOf = [scale](float decibels) {
        return scale * double(koru::meters::ppmFraction(decibels));
    };
    QLinearGradient gradient(0.0, kNameMargin, 0.0, kNameMargin + scale);
    gradient.setColorAt(0.0, QColor(0, 160, 0));
    gradient.setColorAt(0.75, QColor(230, 220, 0));
    gradient.setColorAt(1.0, QColor(230, 30, 0));
    for (std::size_t k = 0; k < mMeters.size(); ++k) {
        const Meter& meter = mMeters[k];
        const double x = kScaleMargin + double(k) * column;
        if (std::isfinite(meter.rms)) {
            painter.fillRect(QRectF(x, kNameMargin, barWidth, heightOf(meter.rms)), gradient);
        }
        const float peak = std::isnan(meter.peak) ? -144.0f : meter.peak;
        const double peakHeight = heightOf(peak);
        if (peakHeight > 0.0) {
            painter.fillRect(
                QRectF(x, kNameMargin + std::max(0.0, peakHeight - 2.0), barWidth, 2.0), Qt::white);
        }
        const QRectF clipBox(x, along - kClipBoxHeight, barWidth, kClipBoxHeight);
        painter.fillRect(clipBox, meter.clipped ? QColor(255, 0, 0) : QColor(60, 0, 0));
    }
    // The scale over the meters.
    const QFont font = meterFont(9);
    const double right = mMeters.empty() ? (turned ? size.height() : size.width())
                                         : kScaleMargin + column * double(mMeters.size());
    painter.setPen(QPen(kScaleStroke, 1.0));
    for (float tick : kTicks) {
        const double y = std::floor(kNameMargin + heightOf(tick)) + 0.5;
        painter.drawLine(QPointF(kScaleMargin, y), QPointF(right, y));
        const QString label = QString::asprintf("%2.0f", double(tick));
        const double advance = YUpGeometry::textAdvance(label, font);
        if (turned) {
            fillUpwardText(painter, label, font, QPointF(kScaleMargin - 3.0, y - advance / 2.0),
                           kScaleText);
        } else {
            YUpGeometry::fillText(painter, label, font,
                                  QPointF(kScaleMargin - 3.0 - advance, y - 3.0), kScaleText);
        }
    }
    if (mDrawLabels && along > kNamesMinimumLength) {
        const QFont nameFont = meterFont(9);
        for (std::size_t k = 0; k < mMeters.size(); ++k) {
            if (mMeters[k].name.isEmpty()) {
                continue;
            }
            const double x = kScaleMargin + double(k) * column + column / 2.0 + 4.0;
            fillUpwardText(painter, mMeters[k].name, nameFont, QPointF(x, 2.0), kScaleText);
        }
    }
    painter.restore();
}

void KODeviceInPPMView::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    drawContent(painter, size());
}

// ---- goniometer --------------------------------------------------------------------------------

KOGoniometerView::KOGoniometerView(QWidget* parent) : KOInstrumentBackgroundView(parent) {
    setMinimumSize(100, 100);
    setRedrawRate(kRedrawRate);
}

void KOGoniometerView::setDrawCorrelation(bool draw) {
    mDrawCorrelation.store(draw, std::memory_order_relaxed);
    update();
}

void KOGoniometerView::drawBlock(const KOGoniometerInstrument::Block& block, QSize size) {
    const float m = std::max(KOGoniometerInstrument::MaxMagnitude(block.a.data(), block.frames),
                             KOGoniometerInstrument::MaxMagnitude(block.b.data(), block.frames));
    const float correlation =
        KOGoniometerInstrument::Correlation(block.a.data(), block.b.data(), block.frames);
    {
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
    setViewIsDirty();
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
    const double h = size.height();
    // The scale lightens the picture only where it is darker, so a trace on a line stays.
    painter.setCompositionMode(QPainter::CompositionMode_Lighten);
    const double cx = w / 2.0;
    const double cy = h / 2.0;
    const double r = std::min(cx, cy) * 0.9;
    const double d = 0.707 * r;
    painter.setPen(QPen(kScaleStroke, 1.0));
    painter.setBrush(Qt::NoBrush);
    painter.drawLine(QPointF(cx, cy - r), QPointF(cx, cy + r));
    painter.drawLine(QPointF(cx - r, cy), QPointF(cx + r, cy));
    painter.drawLine(QPointF(cx - d, cy - d), QPointF(cx + d, cy + d));
    painter.drawLine(QPointF(cx - d, cy + d), QPointF(cx + d, cy - d));
    painter.drawEllipse(QPointF(cx, cy), r, r);
    painter.drawEllipse(QPointF(cx, cy), r / 2.0, r / 2.0);
    const QFont font = meterFont(10);
    const QColor text = QColor::fromRgbF(0.7f, 0.7f, 0.7f, 0.8f);
    YUpGeometry::fillText(
        painter, QStringLiteral("L"), font,
        QPointF(cx - d - 2.0 - YUpGeometry::textAdvance(QStringLiteral("L"), font), cy + d), text);
    YUpGeometry::fillText(painter, QStringLiteral("R"), font, QPointF(cx + d + 2.0, cy + d), text);
    YUpGeometry::fillText(
        painter, QStringLiteral("C"), font,
        QPointF(cx - YUpGeometry::textAdvance(QStringLiteral("C"), font) / 2.0, cy + r + 2.0),
        text);
    painter.setCompositionMode(QPainter::CompositionMode_SourceOver);
    if (drawCorrelation()) {
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
        painter.setPen(QPen(kScaleStroke, 1.0));
        painter.drawRect(QRectF(23.0, 3.0, w - 46.0, 10.0));
        YUpGeometry::fillText(painter, QStringLiteral("+1"), font, QPointF(w - 23.0 + 3.0, 5.0),
                              text);
        YUpGeometry::fillText(
            painter, QStringLiteral("-1"), font,
            QPointF(23.0 - 3.0 - YUpGeometry::textAdvance(QStringLiteral("-1"), font), 5.0), text);
    }
    painter.restore();
}

void KOGoniometerView::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    drawContent(painter, size());
}

// ---- oscilloscope ------------------------------------------------------------------------------

KOOscilloscopeView::KOOscilloscopeView(QWidget* parent)
    : KOInstrumentBackgroundView(parent), mColourA(KOColorAdditions::noBlueColor()),
      mColourB(KOColorAdditions::nextColorWithAlpha(1.0)) {
    setMinimumSize(100, 100);
    setMouseTracking(true);
    setCursor(Qt::CrossCursor);
    mPointWidth.store(double(width()));
}

void KOOscilloscopeView::resizeEvent(QResizeEvent* event) {
    KOInstrumentBackgroundView::resizeEvent(event);
    mPointWidth.store(double(width()), std::memory_order_relaxed);
}

void KOOscilloscopeView::mouseMoveEvent(QMouseEvent* event) {
    KOInstrumentBackgroundView::mouseMoveEvent(event);
    if (mPointerObserver) {
        mPointerObserver(QPointF(event->position().x(), height() - event->position().y()));
    }
}

void KOOscilloscopeView::setTraces(std::vector<float> a, std::vector<float> b) {
    {
        std::lock_guard lock(mLock);
        mA = std::move(a);
        mB = std::move(b);
    }
    // Repainted by the view's own timer.
    setViewIsDirty();
}

std::vector<float> KOOscilloscopeView::traceA() const {
    std::lock_guard lock(mLock);
    return mA;
}

std::vector<float> KOOscilloscopeView::traceB() const {
    std::lock_guard lock(mLock);
    return mB;
}

void KOOscilloscopeView::setColours(const QColor& a, const QColor& b) {
    {
        std::lock_guard lock(mLock);
        mColourA = a;
        mColourB = b;
    }
    update();
}

QColor KOOscilloscopeView::colourA() const {
    std::lock_guard lock(mLock);
    return mColourA;
}

QColor KOOscilloscopeView::colourB() const {
    std::lock_guard lock(mLock);
    return mColourB;
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
        // One value per point from the left edge.
        QPainterPath path;
        for (std::size_t i = 0; i < values.size(); ++i) {
            const double v = std::isfinite(values[i]) ? values[i] : 0.0;
            const QPointF point(double(i) + 0.5, v * h / 2.0 + h / 2.0);
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
