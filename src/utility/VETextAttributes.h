#pragma once

#include <QColor>
#include <QFont>

// What a view draws a text with: the font and the foreground colour.
struct VETextAttributes {
    QFont font;
    QColor color;
};
