#include "ZOGaugeView.h"

#include "KOColorAdditions.h"
#include "YUpGeometry.h"
#include "platform/desktop/MainThread.h"
#include "utility/ZODictionary.h"

#include <QFontMetricsF>
#include <QPainter>
#include <QPropertyAnimation>

#include <fmt/printf.h>

#include <algorithm>
#include <cmath>

using koru::framework::YUpGeometry;

namespace {

constexpr double kOutlineInset = 1.5;
constexpr double kOutlineWidth = 15.0;
constexpr double kOutlineRadius = 3.0;
constexpr double kOutlineLineWidth = 1.5;
constexpr double kSegmentLeft = 3.5;
constexpr double kSegmentWidth = 11.0;
constexpr double kSegmentHeight = 2.0;
constexpr double kSegmentPitch = 3.0;
constexpr double kFirstSegment = 3.0;
constexpr double kTopClearance = 5.0;
constexpr double kLabelLeft = 20.0;

QPainterPath outline(double height) {
    QPainterPath path;
    path.addRoundedRect(kOutlineInset, kOutlineInset, kOutlineWidth, height - 2.0 * kOutlineInset,
                        kOutlineRadius, kOutlineRadius);
    return path;
}

} // namespace

ZOGaugeView::ZOGaugeView(QWidget* parent)
    : QWidget(parent), mColor(KOColorAdditions::noBlueColor()),
      mTextDictionary_Small(
          ZODictionary::fontAttributesDictionaryForSize(kSmallSystemFontSize, mColor)),
      mAnimation(new QPropertyAnimation(this, "fillLevel", this)) {
    setMaxValue(100.0f);
    mAnimation->setEasingCurve(QEasingCurve::Linear);
    mSurroundingPath = outline(double(height()));
}

void ZOGaugeView::setFloatLevel(float level) {
    // Through our own hand-off, so what the posting thread wrote is published to the main thread
    // in a way the thread checker can see (Qt's queue locks inside an uninstrumented library).
    koru::platform::postToMainThread(this,
                                     [this, level] { startAnimationOnMainThread(double(level)); });
}

void ZOGaugeView::startAnimationOnMainThread(double level) {
    if (std::isnan(level)) {
        return;
    }
    const double range = mMaxValue - mMinValue;
    if (range == 0.0) {
        setValue(level);
        return;
    }
    const double target =
        std::clamp(level, std::min(mMinValue, mMaxValue), std::max(mMinValue, mMaxValue));
    const double change = std::fabs(double(float((mValue - target) / range)));
    if (change < kMinimumChange) {
        return;
    }
    const double seconds = change * (target > mValue ? mTimeToRise : mTimeToFall);
    mAnimation->stop();
    mAnimation->setDuration(std::max(1, int(std::lround(seconds * 1000.0))));
    mAnimation->setStartValue(mValue);
    mAnimation->setEndValue(target);
    mAnimation->start();
}

void ZOGaugeView::setFillLevel(double level) {
    mValue = level;
    update();
}

void ZOGaugeView::setValue(double level) {
    if (std::isnan(level)) {
        return;
    }
    mAnimation->stop();
    mValue = level;
    update();
}

void ZOGaugeView::setMinValue(float value) {
    if (!std::isfinite(value)) {
        return;
    }
    mMinValue = double(value);
    recomputeScale();
}

void ZOGaugeView::setMaxValue(float value) {
    if (!std::isfinite(value)) {
        return;
    }
    mMaxValue = double(value);
    recomputeScale();
}

void ZOGaugeView::recomputeScale() {
    const double range = mMaxValue - mMinValue;
    k = range == 0.0 ? 0.0 : 1.0 / range;
    d = -k * mMinValue;
    update();
}

void ZOGaugeView::setLabelFormatString(const QString& format) {
    mLabelFormatString = format;
    setShouldDrawLabels(true);
}

void ZOGaugeView::setShouldDrawLabels(bool draw) {
    mShouldDrawLabels = draw;
    update();
}

void ZOGaugeView::setColor(const QColor& colour) {
    mColor = colour;
    mTextDictionary_Small.color = colour;
    update();
}

// Off-scale levels behave as the nearest bound: the column is empty or full, never beyond.
double ZOGaugeView::levelFraction() const {
    if (k == 0.0 || !std::isfinite(mValue)) {
        return 0.0;
    }
    return std::clamp(k * mValue + d, 0.0, 1.0);
}

std::vector<double> ZOGaugeView::segmentBottoms(double fraction, double height) {
    std::vector<double> bottoms;
    const double level = fraction * height;
    if (!(level > kFirstSegment) || !(height - kTopClearance > kFirstSegment)) {
        return bottoms;
    }
    for (double y = kFirstSegment; level > y && height - kTopClearance > y; y += kSegmentPitch) {
        bottoms.push_back(y);
    }
    return bottoms;
}

QString ZOGaugeView::labelText(double value) const {
    try {
        return QString::fromStdString(fmt::sprintf(mLabelFormatString.toStdString(), value));
    } catch (const fmt::format_error&) {
        return QString::fromStdString(fmt::format("{:.0f}", value));
    }
}

std::vector<std::pair<double, QString>> ZOGaugeView::labels() const {
    std::vector<std::pair<double, QString>> result;
    if (!mShouldDrawLabels || mNumberLabels == 0 || k == 0.0) {
        return result;
    }
    const auto count = float(mNumberLabels);
    for (std::uint32_t i = 0; i < mNumberLabels; ++i) {
        const float position = float(i) / count + 0.5f / count;
        const double value = (double(position) - d) / k;
        result.emplace_back(double(position) * double(height()), labelText(value));
    }
    return result;
}

void ZOGaugeView::paintEvent(QPaintEvent*) {
    const double h = double(height());
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing, true);
    painter.save();
    YUpGeometry::flip(painter, h);
    painter.strokePath(mSurroundingPath, QPen(mColor, kOutlineLineWidth));
    for (const double y : segmentBottoms(levelFraction(), h)) {
        painter.fillRect(QRectF(kSegmentLeft, y, kSegmentWidth, kSegmentHeight), mColor);
    }
    painter.restore();
    // A label's line box stands half a font size below its band's centre; text is drawn y-down.
    const double descent = QFontMetricsF(mTextDictionary_Small.font).descent();
    painter.setFont(mTextDictionary_Small.font);
    painter.setPen(mTextDictionary_Small.color);
    for (const auto& [centre, text] : labels()) {
        const double bottom = centre - kSmallSystemFontSize / 2.0;
        painter.drawText(QPointF(kLabelLeft, h - bottom - descent), text);
    }
}

void ZOGaugeView::resizeEvent(QResizeEvent* event) {
    mSurroundingPath = outline(double(height()));
    QWidget::resizeEvent(event);
}
