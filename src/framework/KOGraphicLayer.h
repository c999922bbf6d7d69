#pragma once

#include <QColor>
#include <QImage>
#include <QPainter>
#include <QRectF>

#include <memory>

class QPainterPath;

// A fixed-size offscreen layer with its drawing context. Built on the collector thread (a
// QImage, never a pixmap) and composited on main; the context draws y-up (origin bottom-left)
// with antialiasing off. Sizes are logical pixels; the image holds devicePixelRatio times as
// many, so the layer is sharp on the screen whose ratio the view captured on main.
class KOGraphicLayer {
public:
    explicit KOGraphicLayer(const QRectF& rect, double devicePixelRatio = 1.0);
    KOGraphicLayer(double width, double height, double devicePixelRatio = 1.0);
    virtual ~KOGraphicLayer();
    KOGraphicLayer(const KOGraphicLayer&) = delete;
    KOGraphicLayer& operator=(const KOGraphicLayer&) = delete;

    const QRectF& frame() const { return mFrame; }
    // Null once the layer was released.
    QPainter* context() { return mContext.get(); }
    // Ends drawing; the layer can then be composited (also from another thread).
    const QImage& image();
    // Composites the layer into a y-up context (another layer's, or a widget painter turned
    // y-up with YUpGeometry::flip) with its bottom-left corner at (x, y).
    void drawAtPoint(QPainter& target, double x, double y);

    void strokePath(const QPainterPath& path, const QColor& colour);
    void fillPath(const QPainterPath& path, double red, double green, double blue, double alpha);
    void releaseLayer();

protected:
    // The layer's pixels, for drawing that bypasses the context (the painter stays active).
    QImage& pixels() { return mLayer; }

private:
    QRectF mFrame;
    QImage mLayer;
    std::unique_ptr<QPainter> mContext;
};
