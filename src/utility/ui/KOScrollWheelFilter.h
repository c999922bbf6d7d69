#pragma once

#include <QObject>

// Gives every slider and numeric text field of the program the same scroll-wheel stepping
// (KOSliderAdditions, KOTextFieldAdditions), installed once on the application.
class KOScrollWheelFilter : public QObject {
    Q_OBJECT
public:
    // Installs the filter on the running application; later calls do nothing.
    static void installApplicationWide();

    // Wheel units of a wheel event: a notch is 1; x positive to the left, y positive upwards.
    static QPointF wheelUnits(const QWheelEvent& event);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
};
