#pragma once

#include <QPointF>
#include <QRectF>

class QWidget;

// Reading and moving a window by any of its corners, and growing it by a width or height
// difference within its size limits. Corners are in screen coordinates with the origin at the
// bottom left of the primary screen and y growing upwards, as window snapping reasons about
// them; the conversion to Qt's top-left origin happens in yUpFrame/setYUpOrigin only.
class ZOWindowAdditions {
public:
    // On a y-up frame (x, y = bottom-left corner).
    static QPointF bottomLeftCorner(const QRectF& frame) { return frame.topLeft(); }
    static QPointF bottomRightCorner(const QRectF& frame) { return frame.topRight(); }
    static QPointF topLeftCorner(const QRectF& frame) { return frame.bottomLeft(); }
    static QPointF topRightCorner(const QRectF& frame) { return frame.bottomRight(); }
    // The origin that puts that corner of a frame of this size at p.
    static QPointF originForBottomLeftCorner(const QRectF& /*frame*/, QPointF p) { return p; }
    static QPointF originForBottomRightCorner(const QRectF& frame, QPointF p);
    static QPointF originForTopLeftCorner(const QRectF& frame, QPointF p);
    static QPointF originForTopRightCorner(const QRectF& frame, QPointF p);

    // The window's frame (decorations included) in y-up screen coordinates.
    static QRectF yUpFrame(const QWidget& window);
    // Moves the window, without resizing it, so its frame's bottom-left corner is at origin.
    static void setYUpOrigin(QWidget& window, QPointF origin);
    // A screen rectangle (a screen's work area, a frame) between the two conventions.
    static QRectF yUpRect(const QRectF& yDownRect);
    static QRectF yDownRect(const QRectF& yUpRect);

    static QPointF bottomLeftCorner(const QWidget& window);
    static QPointF bottomRightCorner(const QWidget& window);
    static QPointF topLeftCorner(const QWidget& window);
    static QPointF topRightCorner(const QWidget& window);
    static void setBottomLeftCorner(QWidget& window, QPointF p);
    static void setBottomRightCorner(QWidget& window, QPointF p);
    static void setTopLeftCorner(QWidget& window, QPointF p);
    static void setTopRightCorner(QWidget& window, QPointF p);

    // Width within the window's minimum and maximum; the origin stays.
    static void adjustWidth(QWidget& window, double dw);
    // Height within its limits; the origin (bottom edge) stays, so the top edge moves.
    static void adjustHeight(QWidget& window, double dh);

private:
    // Top edge of the primary screen in y-down coordinates plus its height: the y-down
    // position of the y-up origin.
    static double screenReference();
};
