#pragma once

#include <QSlider>

namespace koru::analysers {

// A horizontal slider over a range of real numbers. The knob moves in kSteps even steps; a value
// set in code is kept exactly (1.39794 stays 1.39794) until the user moves the knob. Moving it
// reports the new value at once (continuous); setting the value in code reports nothing.
class DoubleSlider : public QSlider {
    Q_OBJECT
public:
    static constexpr int kSteps = 1000;

    explicit DoubleSlider(QWidget* parent = nullptr);

    void setDoubleRange(double minimum, double maximum);
    double doubleMinimum() const { return mMinimum; }
    double doubleMaximum() const { return mMaximum; }
    // Clamped to the range; a value that is no number is ignored.
    void setDoubleValue(double value);
    double doubleValue() const { return mValue; }

signals:
    // The user moved the slider.
    void doubleValueChanged(double value);

private:
    void placeKnob();

    double mMinimum = 0.0;
    double mMaximum = 1.0;
    double mValue = 0.0;
};

} // namespace koru::analysers
