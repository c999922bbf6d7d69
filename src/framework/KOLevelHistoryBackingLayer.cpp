#include "KOLevelHistoryBackingLayer.h"

#include "YUpGeometry.h"
#include "utility/VEString.h"

#include <QFontMetricsF>
#include <QPainterPath>

#include <fmt/format.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>

using koru::framework::YUpGeometry;

namespace {

constexpr double kLabelColumn = 22.0;
constexpr double kLabelRightEnd = 20.0;
constexpr double kPlotInset = 23.0;
constexpr double kPlotMargins = 25.0;
// A fifth of a point, without antialiasing: one pixel. Qt would instead fade a line that thin
// to a fifth of its colour, which leaves the grid all but invisible.
constexpr double kGridLineWidth = 0.0;
constexpr double kTimeLineBottom = 12.0;
constexpr double kTimeLabelBaseline = 2.0;
constexpr double kPointsPerLabel = 50.0;

} // namespace

KOLevelHistoryBackingLayer::KOLevelHistoryBackingLayer(unsigned labelFlags, double width,
                                                       double height, double minDB, double maxDB,
                                                       double exponent, double devicePixelRatio)
    : KOFFTBackingLayer(width, height, devicePixelRatio), mLabelFlags(labelFlags) {
    mFont = QFont(QStringLiteral("Helvetica"));
    mFont.setPixelSize(9);
    mFont.setLetterSpacing(QFont::AbsoluteSpacing, 0.7);
    if (context() != nullptr) {
        drawGrid(labelFlags, minDB, maxDB, exponent);
    }
    QRectF plot = plotRect();
    if ((labelFlags & kLabelsLeft) != 0) {
        plot.adjust(kPlotInset, 0.0, kPlotInset - kPlotMargins, 0.0);
    }
    if ((labelFlags & kLabelsRight) != 0) {
        plot.setWidth(plot.width() - kPlotMargins);
    }
    setPlotRect(plot);
}

std::optional<double> KOLevelHistoryBackingLayer::gridLineY(double value, double minDB,
                                                            double maxDB, double exponent,
                                                            double height) {
    // A reversed range would draw the grid upside down.
    if (!(maxDB > minDB)) {
        return std::nullopt;
    }
    const double y = std::pow((value - minDB) / (maxDB - minDB), exponent) * height;
    if (!std::isnormal(y)) {
        return std::nullopt;
    }
    return y;
}

void KOLevelHistoryBackingLayer::drawGrid(unsigned labelFlags, double minDB, double maxDB,
                                          double exponent) {
    const double width = frame().width();
    const double height = frame().height();
    const double x0 = (labelFlags & kLabelsLeft) != 0 ? kLabelColumn : 0.0;
    const double x1 = (labelFlags & kLabelsRight) != 0 ? width - kLabelColumn : width;
    QPainter& painter = *context();
    painter.setPen(QPen(strokeColour(), kGridLineWidth));
    for (const double value : kGridValues) {
        const std::optional<double> y = gridLineY(value, minDB, maxDB, exponent, height);
        if (!y) {
            continue;
        }
        painter.drawLine(QPointF(x0, *y), QPointF(x1, *y));
        const QString label = QString::fromStdString(fmt::format("{:2.0f}", value));
        const double advance = YUpGeometry::textAdvance(label, mFont);
        if ((labelFlags & kLabelsLeft) != 0) {
            drawText(label, kLabelRightEnd - advance, *y - 3.0);
        }
        if ((labelFlags & kLabelsRight) != 0) {
            drawText(label, width - advance, *y - 3.0);
        }
    }
}

double KOLevelHistoryBackingLayer::timeAxisStep(double secondsPerPoint) {
    const double seconds = std::isfinite(secondsPerPoint) ? std::max(1.0, secondsPerPoint) : 1.0;
    const double minutes = std::floor(kPointsPerLabel * seconds / 60.0);
    if (minutes == 0.0) {
        return 60.0;
    }
    if (minutes < 5.0) {
        return 300.0;
    }
    if (minutes < 10.0) {
        return 600.0;
    }
    if (minutes < 15.0) {
        return 900.0;
    }
    if (minutes < 30.0) {
        return 1800.0;
    }
    return minutes < 60.0 ? 3600.0 : 7200.0;
}

void KOLevelHistoryBackingLayer::drawTimeAxis(double secondsPerPoint) {
    if (context() == nullptr) {
        return;
    }
    const double seconds = std::isfinite(secondsPerPoint) ? std::max(1.0, secondsPerPoint) : 1.0;
    const double step = timeAxisStep(seconds);
    const double distance = step / seconds;
    const double width = frame().width();
    const double height = frame().height();
    // Lines closer than a point merge anyway; a layer never needs more than one per point.
    const auto maximumLines = std::uint64_t(std::ceil(width)) + 1;
    QPainterPath lines;
    double x = width;
    for (std::uint64_t k = 0; x > plotRect().left() && k < maximumLines; ++k, x -= distance) {
        lines.moveTo(x, kTimeLineBottom);
        lines.lineTo(x, height);
        if (k == 0) {
            continue;
        }
        const QString label = VEString::stringFromSecondsWithoutLead(std::uint32_t(
            std::min(double(k) * step, double(std::numeric_limits<std::uint32_t>::max()))));
        drawText(label, x - YUpGeometry::textAdvance(label, mFont) / 2.0, kTimeLabelBaseline);
    }
    QPen pen(strokeColour(), 1.0);
    pen.setDashPattern({1.0, 3.0});
    context()->strokePath(lines, pen);
    const QRectF plot = plotRect();
    setPlotRect(QRectF(plot.x(), plot.y() + 15.0, plot.width(), plot.height() - 16.0));
}

void KOLevelHistoryBackingLayer::drawText(const QString& text, double left, double baseline) {
    const double descent = QFontMetricsF(mFont).descent();
    YUpGeometry::fillText(*context(), text, mFont, QPointF(left, baseline - descent), fillColour());
}
