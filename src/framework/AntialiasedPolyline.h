#pragma once

#include <QColor>
#include <QPointF>
#include <QTransform>

#include <vector>

class QImage;

namespace koru::framework {

// A one-pixel antialiased polyline drawn straight into a premultiplied ARGB32 image (source
// over). The trace layer strokes a point per pixel column every frame: QPainter's raster engine
// hands such strokes to the global thread pool span batch by span batch, which costs more than
// the drawing on a busy machine; this draws the same line on the calling thread alone.
// `toDevice` maps the points to device pixels (a layer painter's deviceTransform()).
void strokeAntialiasedPolyline(QImage& image, const std::vector<QPointF>& points,
                               const QTransform& toDevice, const QColor& colour);

} // namespace koru::framework
