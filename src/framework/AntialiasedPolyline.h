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
// `toDevice` maps the points to device pixels (a layer painter's deviceTransform()). Segments
// with a non-finite end are left out; the walk along a segment stops at the image's edges.
void strokeAntialiasedPolyline(QImage& image, const std::vector<QPointF>& points,
                               const QTransform& toDevice, const QColor& colour);

// Fills, antialiased, the area between a polyline that runs along x (each vertical line meets it
// once; vertical segments are allowed) and the horizontal line y = baseline, into the same kind
// of image. The level plots fill under jagged traces of thousands of points, which QPainter's
// rasteriser takes tens of milliseconds for. Coverage is exact per pixel column for the
// column's mean height; `toDevice` may scale and translate, not rotate.
void fillAntialiasedAreaUnderPolyline(QImage& image, const std::vector<QPointF>& points,
                                      const QTransform& toDevice, double baseline,
                                      const QColor& colour);

} // namespace koru::framework
