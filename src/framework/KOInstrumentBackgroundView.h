#pragma once

#include "KOInstrumentView.h"

#include <QColor>

// An instrument view on an opaque backing colour; subclasses draw their traces in the standard
// trace colour, whose components it keeps.
class KOInstrumentBackgroundView : public KOInstrumentView {
    Q_OBJECT
public:
    explicit KOInstrumentBackgroundView(QWidget* parent = nullptr);

    // Under objectLock(); repaints the whole view.
    void setBackingColor(const QColor& colour);
    QColor backingColor() const;

protected:
    void paintEvent(QPaintEvent* event) override;

    double mR = 0.0;
    double mG = 0.0;
    double mB = 0.0;
    double mA = 0.0;

private:
    QColor mBackingColor;
};
