#pragma once

#include <QColor>

class VEColor {
public:
    // The default text colour of the plots and their legends.
    static QColor noBlueColor() { return QColor::fromRgbF(0.2f, 0.7f, 0.9f, 1.0f); }
};
