#pragma once

#include <QPointF>
#include <QString>
#include <QVariant>

class QSlider;

// Scroll-wheel stepping of sliders: one wheel unit moves a slider by a hundredth of its range.
// Wheel turns upwards and to the left increase the value. The value goes through the slider's
// setter (which keeps it in range and tells the slider's action), then to the model behind its
// "value" binding. Sliders hold whole numbers: what a step leaves over is kept for the next one,
// so a slider with a short range still moves. Main thread only.
class KOSliderAdditions {
public:
    // `delta` in wheel units (a notch is 1; x positive to the left, y positive upwards).
    static void scrollWheel(QSlider& slider, QPointF delta);
    // Writes a value to the model object behind one of the slider's bindings.
    static void propagateValue(const QSlider& slider, const QVariant& value,
                               const QString& binding);
};
