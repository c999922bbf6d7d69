#include "utility/ui/RangeSlider.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>

#include <algorithm>
#include <cmath>

namespace koru {

RangeSlider::RangeSlider(QWidget* parent) : QWidget(parent) {
    setFocusPolicy(Qt::StrongFocus);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
}

void RangeSlider::setRange(double minimum, double maximum) {
    if (!std::isfinite(minimum) || !std::isfinite(maximum)) {
        return;
    }
    mMinimum = std::min(minimum, maximum);
    mMaximum = std::max(minimum, maximum);
    setValues(mLow, mHigh);
}

void RangeSlider::setValues(double low, double high) {
    if (std::isnan(low) || std::isnan(high)) {
        return;
    }
    mHigh = std::clamp(high, mMinimum, mMaximum);
    mLow = std::clamp(low, mMinimum, mHigh);
    update();
}

double RangeSlider::positionOf(double value) const {
    const double span = mMaximum - mMinimum;
    const double track = std::max(0.0, width() - 2.0 * kKnobRadius);
    const double fraction = span > 0.0 ? (value - mMinimum) / span : 0.0;
    return kKnobRadius + fraction * track;
}

double RangeSlider::valueAt(double x) const {
    const double track = width() - 2.0 * kKnobRadius;
    if (track <= 0.0) {
        return mMinimum;
    }
    const double fraction = std::clamp((x - kKnobRadius) / track, 0.0, 1.0);
    return mMinimum + fraction * (mMaximum - mMinimum);
}

RangeSlider::Knob RangeSlider::knobNearest(double x) const {
    const double low = positionOf(mLow);
    const double high = positionOf(mHigh);
    // Knobs on top of each other: the press's side decides which one comes away.
    if (std::fabs(high - low) < 1.0) {
        return x > high ? Knob::High : (x < low ? Knob::Low : mLastMoved);
    }
    return std::fabs(x - low) <= std::fabs(x - high) ? Knob::Low : Knob::High;
}

void RangeSlider::moveKnob(Knob knob, double value) {
    const double low = mLow;
    const double high = mHigh;
    if (knob == Knob::Low) {
        mLow = std::clamp(value, mMinimum, mHigh);
    } else if (knob == Knob::High) {
        mHigh = std::clamp(value, mLow, mMaximum);
    }
    mLastMoved = knob == Knob::None ? mLastMoved : knob;
    if (mLow == low && mHigh == high) {
        return;
    }
    update();
    emit valuesChanged(mLow, mHigh);
}

void RangeSlider::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing, true);
    const double y = height() / 2.0;
    const QColor track = palette().color(QPalette::Mid);
    const QColor selected = palette().color(QPalette::Highlight);
    painter.setPen(QPen(track, 2.0, Qt::SolidLine, Qt::RoundCap));
    painter.drawLine(QPointF(kKnobRadius, y), QPointF(width() - kKnobRadius, y));
    painter.setPen(QPen(selected, 3.0, Qt::SolidLine, Qt::RoundCap));
    painter.drawLine(QPointF(positionOf(mLow), y), QPointF(positionOf(mHigh), y));
    painter.setPen(QPen(palette().color(QPalette::Shadow), 1.0));
    painter.setBrush(palette().color(QPalette::Button));
    for (double value : {mLow, mHigh}) {
        painter.drawEllipse(QPointF(positionOf(value), y), kKnobRadius - 0.5, kKnobRadius - 0.5);
    }
}

void RangeSlider::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) {
        QWidget::mousePressEvent(event);
        return;
    }
    const double x = event->position().x();
    mDragged = knobNearest(x);
    moveKnob(mDragged, valueAt(x));
}

void RangeSlider::mouseMoveEvent(QMouseEvent* event) {
    if (mDragged == Knob::None) {
        return;
    }
    moveKnob(mDragged, valueAt(event->position().x()));
}

void RangeSlider::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton) {
        mDragged = Knob::None;
    }
}

void RangeSlider::keyPressEvent(QKeyEvent* event) {
    const double step = (mMaximum - mMinimum) / 100.0;
    const double current = mLastMoved == Knob::Low ? mLow : mHigh;
    switch (event->key()) {
    case Qt::Key_Left:
    case Qt::Key_Down:
        moveKnob(mLastMoved, current - step);
        return;
    case Qt::Key_Right:
    case Qt::Key_Up:
        moveKnob(mLastMoved, current + step);
        return;
    default:
        QWidget::keyPressEvent(event);
    }
}

} // namespace koru
