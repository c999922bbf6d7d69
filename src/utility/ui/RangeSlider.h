#pragma once

#include <QWidget>

namespace koru {

// A horizontal slider with two knobs over a range of doubles: the low knob never passes the
// high one. Dragging or the arrow keys report every change through valuesChanged at once;
// the setters never emit, so a view can follow its model without echoing.
class RangeSlider : public QWidget {
    Q_OBJECT
public:
    explicit RangeSlider(QWidget* parent = nullptr);

    // Reversed bounds are swapped; the values are clamped into the new range.
    void setRange(double minimum, double maximum);
    double minimum() const { return mMinimum; }
    double maximum() const { return mMaximum; }
    void setValues(double low, double high);
    void setLowValue(double value) { setValues(value, mHigh); }
    void setHighValue(double value) { setValues(mLow, value); }
    double lowValue() const { return mLow; }
    double highValue() const { return mHigh; }

    QSize sizeHint() const override { return {100, 15}; }
    // Centre of a value's knob, in widget pixels.
    double positionOf(double value) const;

signals:
    void valuesChanged(double low, double high);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    enum class Knob { None, Low, High };
    static constexpr double kKnobRadius = 5.0;

    double valueAt(double x) const;
    Knob knobNearest(double x) const;
    void moveKnob(Knob knob, double value);

    double mMinimum = 0.0;
    double mMaximum = 1.0;
    double mLow = 0.0;
    double mHigh = 1.0;
    Knob mDragged = Knob::None;
    Knob mLastMoved = Knob::High;
};

} // namespace koru
