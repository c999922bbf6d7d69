#include "KOFFTBackingLayer.h"

#include "YUpGeometry.h"
#include "ZOLogViewMath.h"
#include "platform/defaults/UserDefaults.h"
#include "utility/KOString.h"

#include <QPainterPath>

#include <fmt/format.h>

#include <array>
#include <cmath>
#include <limits>

using koru::framework::YUpGeometry;

namespace {

// One decade of line frequencies, as the labels have always been computed (float steps).
constexpr std::array<double, 10> kThirdOctaves = {1.0, 1.25, double(1.6f), 2.0, 2.5, double(3.15f),
                                                  4.0, 5.0,  double(6.3f), 8.0};
constexpr int kLastDecade = 12;
constexpr double kLineWidth = 0.5;
constexpr double kDecibelLineSpacing = 25.0;
// Dash 1 on, 3 off in layer units. Qt counts dashes in pen widths, but never in less than one
// unit, so at the half-unit line width these are units already.
const QList<qreal> kDash = {1.0, 3.0};

bool thirdOctaveDetailsAllowedByUser() {
    return koru::platform::UserDefaults::standardUserDefaults().boolForKey(
        KOFFTBackingLayer::kAllowThirdOctaveDetailsKey);
}

} // namespace

KOFFTBackingLayer::KOFFTBackingLayer(const QRectF& rect, double devicePixelRatio)
    : KOGraphicLayer(rect, devicePixelRatio), mPlotRect(rect),
      mStroke(QColor::fromRgbF(0.6f, 0.6f, 0.6f, 0.5f)),
      mFill(QColor::fromRgbF(0.7f, 0.7f, 0.7f, 0.8f)) {
    if (context() != nullptr) {
        context()->setRenderHint(QPainter::Antialiasing, false);
    }
}

KOFFTBackingLayer::KOFFTBackingLayer(double width, double height, double devicePixelRatio)
    : KOFFTBackingLayer(QRectF(0.0, 0.0, width, height), devicePixelRatio) {}

KOFFTBackingLayer::KOFFTBackingLayer(const ZOLogViewMath& math, double width, double height,
                                     double lowerMag, double upperMag, double devicePixelRatio,
                                     std::optional<bool> allowThirdOctaveDetails)
    : KOFFTBackingLayer(QRectF(0.0, 0.0, width, height), devicePixelRatio) {
    mMargin = lowerMag == upperMag ? 0.0 : kMargin;
    mFont = QFont(QStringLiteral("Helvetica"));
    mFont.setPixelSize(9);
    mFont.setLetterSpacing(QFont::AbsoluteSpacing, 1.0);
    const bool details = width > kThirdOctaveDetailsMinimumWidth &&
                         (allowThirdOctaveDetails.has_value() ? *allowThirdOctaveDetails
                                                              : thirdOctaveDetailsAllowedByUser());
    if (context() == nullptr) {
        return;
    }
    QPainter& painter = *context();
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing, true);
    drawFrequencyLines(math, details);
    mPlotRect.translate(mMargin, kFrequencyLabelHeight);
    drawDecibelLines(lowerMag, upperMag);
    painter.restore();
}

void KOFFTBackingLayer::drawFrequencyLines(const ZOLogViewMath& math, bool details) {
    const double upper = math.highFrequency();
    if (!(upper > 1.0)) {
        return;
    }
    const double width = frame().width();
    for (int decade = 0; decade <= kLastDecade; ++decade) {
        const double scale = std::pow(10.0, decade);
        for (std::size_t j = 0; j < kThirdOctaves.size(); ++j) {
            const double hertz = kThirdOctaves[j] * scale;
            const double x = math.frequencyToPosition(hertz) * width;
            if (x <= mMargin || x > width + 1.0) {
                continue;
            }
            const bool octave = (10 * decade + int(j)) % 3 == 0;
            drawFrequencyLine(std::ceil(x) + 0.5, octave,
                              KOString::stringWithFrequency(float(hertz)), details);
        }
        if (!(upper > kThirdOctaves.back() * scale)) {
            break;
        }
    }
}

void KOFFTBackingLayer::drawFrequencyLine(double x, bool octave, const QString& label,
                                          bool details) {
    QPainter& painter = *context();
    QPen pen(mStroke, kLineWidth);
    const double height = frame().height();
    if (octave) {
        drawLabel(label, {x + 2.0, 2.0});
        painter.setPen(pen);
        painter.drawLine(QPointF(x, 0.0), QPointF(x, height));
        return;
    }
    if (details) {
        drawLabel(label, {x, 2.0});
    }
    pen.setDashPattern(kDash);
    painter.setPen(pen);
    painter.drawLine(QPointF(x, kFrequencyLabelHeight), QPointF(x, height));
}

void KOFFTBackingLayer::drawDecibelLines(double lowerMag, double upperMag) {
    // Equal, reversed or non-finite bounds have no scale to draw (and would never end the walk).
    if (!std::isfinite(lowerMag) || !std::isfinite(upperMag) || !(upperMag > lowerMag)) {
        return;
    }
    const double width = frame().width();
    const double height = frame().height();
    const double range = upperMag - lowerMag;
    const double lines = std::trunc(height / kDecibelLineSpacing);
    // Under 25 pixels there is room for one line only.
    const double step =
        lines > 0.0 ? std::ceil(range / lines) : std::numeric_limits<double>::infinity();
    const double start = std::floor(float(lowerMag));
    const double scale = height / range;
    const double offset = height - upperMag * scale;
    QPainter& painter = *context();
    QPen pen(mStroke, kLineWidth);
    pen.setDashPattern(kDash);
    for (double level = start; level < upperMag; level += step) {
        const double y = std::round(level * scale + offset) + 0.5;
        painter.setPen(pen);
        painter.drawLine(QPointF(0.0, y), QPointF(width, y));
        const QString label = QString::fromStdString(fmt::format("{:.0f}dB", level));
        drawLabel(label, {mMargin - YUpGeometry::textAdvance(label, mFont), y + 2.0});
    }
}

void KOFFTBackingLayer::drawLabel(const QString& text, QPointF bottomLeft) {
    YUpGeometry::fillText(*context(), text, mFont, bottomLeft, mFill);
}
