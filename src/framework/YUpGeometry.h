#pragma once

#include <QBrush>
#include <QFont>
#include <QPainterPath>
#include <QPen>
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
    // Fills (and outlines, with a pen) that text antialiased, whatever the painter's own hint:
    // aliased, a minus sign thinner than a pixel that falls between two rows vanishes and "-6"
    // reads as "6".
    static void fillText(QPainter& flipped, const QString& text, const QFont& font,
                         QPointF bottomLeft, const QBrush& fill,
                         const QPen& outline = QPen(Qt::NoPen));

    // Draws a y-down image upright into a flipped painter, its bottom-left corner at the point.
    static void drawImage(QPainter& flipped, QPointF bottomLeft, const QImage& image);
};

} // namespace koru::framework
