#include "AntialiasedPolyline.h"

#include <QImage>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>

namespace koru::framework {

namespace {

class Plotter {
public:
    Plotter(QImage& image, const QColor& colour)
        : mImage(image), mWidth(image.width()), mHeight(image.height()) {
        const QRgb premultiplied = qPremultiply(colour.rgba());
        mSource = {qRed(premultiplied), qGreen(premultiplied), qBlue(premultiplied),
                   qAlpha(premultiplied)};
    }

    // Blends the colour into pixel (x, y) with coverage 0..1.
    void plot(int x, int y, double coverage) {
        if (x < 0 || y < 0 || x >= mWidth || y >= mHeight || coverage <= 0.0) {
            return;
        }
        const int weight = int(std::lround(std::min(coverage, 1.0) * 256.0));
        auto* pixel = reinterpret_cast<QRgb*>(mImage.scanLine(y)) + x;
        const int inverse = 255 - ((mSource[3] * weight) >> 8);
        auto mix = [&](int source, int destination) {
            return std::min(255, ((source * weight) >> 8) + (destination * inverse + 127) / 255);
        };
        *pixel = qRgba(mix(mSource[0], qRed(*pixel)), mix(mSource[1], qGreen(*pixel)),
                       mix(mSource[2], qBlue(*pixel)), mix(mSource[3], qAlpha(*pixel)));
    }

    // Wu's line between pixel-space points (pixel centres at +0.5), without its last pixel so
    // joined segments do not paint their joints twice.
    void segment(QPointF from, QPointF to) {
        const double dx = to.x() - from.x();
        const double dy = to.y() - from.y();
        if (std::fabs(dx) >= std::fabs(dy)) {
            walk(from.x(), from.y(), to.x(), dy / (dx == 0.0 ? 1.0 : dx), false);
        } else {
            walk(from.y(), from.x(), to.y(), dx / dy, true);
        }
    }

private:
    // Steps along the major axis a -> aEnd, the minor coordinate b moving by slope per step.
    void walk(double a, double b, double aEnd, double slope, bool steep) {
        const int step = aEnd >= a ? 1 : -1;
        const int first = int(std::floor(a));
        const int last = int(std::floor(aEnd));
        for (int i = first; i != last; i += step) {
            const double minor = b + (i + 0.5 - a) * slope - 0.5;
            const int below = int(std::floor(minor));
            const double fraction = minor - below;
            if (steep) {
                plot(below, i, 1.0 - fraction);
                plot(below + 1, i, fraction);
            } else {
                plot(i, below, 1.0 - fraction);
                plot(i, below + 1, fraction);
            }
        }
    }

    QImage& mImage;
    int mWidth;
    int mHeight;
    std::array<int, 4> mSource{};
};

} // namespace

void strokeAntialiasedPolyline(QImage& image, const std::vector<QPointF>& points,
                               const QTransform& toDevice, const QColor& colour) {
    if (points.size() < 2 || image.format() != QImage::Format_ARGB32_Premultiplied) {
        return;
    }
    Plotter plotter(image, colour);
    QPointF previous = toDevice.map(points.front());
    for (std::size_t i = 1; i < points.size(); ++i) {
        const QPointF next = toDevice.map(points[i]);
        plotter.segment(previous, next);
        previous = next;
    }
    const QPointF end = toDevice.map(points.back());
    plotter.plot(int(std::floor(end.x())), int(std::floor(end.y())), 1.0);
}

} // namespace koru::framework
