#pragma once

#include <QFont>
#include <QPainterPath>
#include <QPointF>
#include <QRectF>

class QImage;
class QPainter;

namespace koru::framework {

// Plots and window frames are laid out with the origin at the bottom left and y growing
// upwards; Qt puts the origin at the top left. Every crossing between the two goes through
// here: painters are flipped once, and the few things that must read upright (text, images)
// are turned back locally.
class YUpGeometry {
public:
    // Makes a painter over a surface `height` units tall draw in y-up coordinates.
    static void flip(QPainter& painter, double height);

    // A y-up rectangle (origin bottom-left) in y-down terms, and back: the same reflection
    // about a surface (or screen) whose top edge sits at referenceHeight.
    static QRectF reflected(const QRectF& rect, double referenceHeight);
    static QPointF reflected(const QPointF& point, double referenceHeight);

    // The outline of `text` in y-up coordinates, the bottom of its line box (descent included)
    // at `bottomLeft`; ready to be filled and stroked by a flipped painter.
    static QPainterPath textPath(const QString& text, const QFont& font, QPointF bottomLeft);
    static double textAdvance(const QString& text, const QFont& font);

    // Draws a y-down image upright into a flipped painter, its bottom-left corner at the point.
    static void drawImage(QPainter& flipped, QPointF bottomLeft, const QImage& image);
};

} // namespace koru::framework
