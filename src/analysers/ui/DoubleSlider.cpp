#include "analysers/ui/DoubleSlider.h"

#include <QSignalBlocker>

#include <algorithm>
#include <cmath>

namespace koru::analysers {

DoubleSlider::DoubleSlider(QWidget* parent) : QSlider(Qt::Horizontal, parent) {
    setRange(0, kSteps);
    setTracking(true);
    connect(this, &QSlider::valueChanged, this, [this](int position) {
        mValue = mMinimum + (mMaximum - mMinimum) * double(position) / kSteps;
        emit doubleValueChanged(mValue);
    });
}

void DoubleSlider::setDoubleRange(double minimum, double maximum) {
    mMinimum = minimum;
    mMaximum = maximum > minimum ? maximum : minimum;
    mValue = std::clamp(mValue, mMinimum, mMaximum);
    placeKnob();
}

void DoubleSlider::setDoubleValue(double value) {
    if (std::isnan(value))
        return;
    mValue = std::clamp(value, mMinimum, mMaximum);
    placeKnob();
}

void DoubleSlider::placeKnob() {
    const double span = mMaximum - mMinimum;
    const double fraction = span > 0.0 ? (mValue - mMinimum) / span : 0.0;
    const QSignalBlocker blocker(this);
    setValue(int(std::lround(fraction * kSteps)));
}

} // namespace koru::analysers
