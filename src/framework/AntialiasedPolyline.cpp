#include "AntialiasedPolyline.h"

#include <QImage>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>

namespace koru::framework {

namespace {

bool isFinite(QPointF point) {
    return std::isfinite(point.x()) && std::isfinite(point.y());
}

class Plotter {
public:
    Plotter(QImage& image, const QColor& colour)
        : mBits(image.bits()), mStride(image.bytesPerLine()), mWidth(image.width()),
          mHeight(image.height()) {
        const QRgb premultiplied = qPremultiply(colour.rgba());
        mSource = {qRed(premultiplied), qGreen(premultiplied), qBlue(premultiplied),
                   qAlpha(premultiplied)};
    }

    int width() const { return mWidth; }
    int height() const { return mHeight; }

    // Blends the colour into pixel (x, y) with coverage 0..1.
    void plot(int x, int y, double coverage) {
        if (x < 0 || y < 0 || x >= mWidth || y >= mHeight || !(coverage > 0.0)) {
            return;
        }
        blend(row(y) + x, int(std::min(coverage, 1.0) * 256.0 + 0.5));
    }

    // weight 0..256
    void plotWeighted(int x, int y, int weight) {
        if (unsigned(x) < unsigned(mWidth) && unsigned(y) < unsigned(mHeight) && weight > 0) {
            blend(row(y) + x, weight);
        }
    }

    QRgb* row(int y) { return reinterpret_cast<QRgb*>(mBits + std::ptrdiff_t(y) * mStride); }

    // weight 0..256
    void blend(QRgb* pixel, int weight) {
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
        if (!isFinite(from) || !isFinite(to)) {
            return;
        }
        const double dx = to.x() - from.x();
        const double dy = to.y() - from.y();
        if (std::fabs(dx) >= std::fabs(dy)) {
            walk(from.x(), from.y(), to.x(), dy / (dx == 0.0 ? 1.0 : dx), false);
        } else {
            walk(from.y(), from.x(), to.y(), dx / dy, true);
        }
    }

private:
    // Steps along the major axis a -> aEnd, the minor coordinate b moving by slope per step;
    // only the steps that can touch the image are taken.
    // The steps are the pixels whose centres lie on the segment, its start included and its end
    // not, in either direction: a segment walked along rows then one walked along columns meet
    // without a missing row between them.
    void walk(double a, double b, double aEnd, double slope, bool steep) {
        const double size = steep ? mHeight : mWidth;
        const auto index = [size](double centre, bool up) {
            const double i = up ? std::ceil(centre - 0.5) : std::floor(centre - 0.5);
            return int(std::clamp(i, -2.0, size + 1.0));
        };
        const bool up = aEnd >= a;
        const int step = up ? 1 : -1;
        const int last = index(aEnd, up);
        for (int i = index(a, up); i != last; i += step) {
            const double minor = b + (i + 0.5 - a) * slope - 0.5;
            const double below = std::floor(minor);
            if (!(below > -2.0 && below < double(steep ? mWidth : mHeight) + 1.0)) {
                continue;
            }
            const int upper = int((minor - below) * 256.0 + 0.5);
            const int low = int(below);
            if (steep) {
                plotWeighted(low, i, 256 - upper);
                plotWeighted(low + 1, i, upper);
            } else {
                plotWeighted(i, low, 256 - upper);
                plotWeighted(i, low + 1, upper);
            }
        }
    }

    uchar* mBits;
    qsizetype mStride;
    int mWidth;
    int mHeight;
    std::array<int, 4> mSource{};
};

// The area between the polyline and the baseline over each pixel column, signed (positive
// above the baseline, that is towards smaller device y).
std::vector<double> columnAreas(const std::vector<QPointF>& device, double baseline, int width) {
    std::vector<double> areas(std::size_t(width), 0.0);
    for (std::size_t k = 1; k < device.size(); ++k) {
        QPointF p = device[k - 1];
        QPointF q = device[k];
        if (!isFinite(p) || !isFinite(q) || p.x() == q.x()) {
            continue;
        }
        if (p.x() > q.x()) {
            std::swap(p, q);
        }
        const double slope = (q.y() - p.y()) / (q.x() - p.x());
        const double heightAtP = baseline - p.y();
        const int firstColumn = int(std::max(0.0, std::floor(p.x())));
        const int endColumn = int(std::min(double(width), std::ceil(q.x())));
        for (int c = firstColumn; c < endColumn; ++c) {
            const double left = std::max(p.x(), double(c));
            const double right = std::min(q.x(), double(c + 1));
            if (!(right > left)) {
                continue;
            }
            const double middle = (left + right) / 2.0;
            areas[std::size_t(c)] += (right - left) * (heightAtP - slope * (middle - p.x()));
        }
    }
    return areas;
}

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
    if (isFinite(end) && std::fabs(end.x()) < 1e9 && std::fabs(end.y()) < 1e9) {
        plotter.plot(int(std::floor(end.x())), int(std::floor(end.y())), 1.0);
    }
}

void fillAntialiasedAreaUnderPolyline(QImage& image, const std::vector<QPointF>& points,
                                      const QTransform& toDevice, double baseline,
                                      const QColor& colour) {
    if (points.size() < 2 || image.format() != QImage::Format_ARGB32_Premultiplied) {
        return;
    }
    const double base = toDevice.map(QPointF(0.0, baseline)).y();
    if (!std::isfinite(base)) {
        return;
    }
    std::vector<QPointF> device;
    device.reserve(points.size());
    for (const QPointF& point : points) {
        device.push_back(toDevice.map(point));
    }
    Plotter plotter(image, colour);
    const std::vector<double> areas = columnAreas(device, base, plotter.width());
    // Each column covers [top, bottom) in device rows: whole pixels between, a partial one at
    // either end. Rows are walked in order, so the image is written line by line.
    struct Span {
        int top, bottom;             // the rows touched: [top, bottom)
        int fullTop, fullBottom;     // the rows covered whole
        int topWeight, bottomWeight; // of the partial rows, 0..256
    };
    std::vector<Span> spans(areas.size());
    int firstRow = plotter.height();
    int endRow = 0;
    for (std::size_t c = 0; c < areas.size(); ++c) {
        const double top =
            std::clamp(std::min(base, base - areas[c]), 0.0, double(plotter.height()));
        const double bottom =
            std::clamp(std::max(base, base - areas[c]), 0.0, double(plotter.height()));
        Span& span = spans[c];
        span.top = int(std::floor(top));
        span.bottom = int(std::ceil(bottom));
        span.fullTop = int(std::ceil(top));
        span.fullBottom = int(std::floor(bottom));
        if (span.fullTop > span.fullBottom) {
            // Within one row.
            span.fullTop = span.fullBottom = span.bottom;
            span.topWeight = int((bottom - top) * 256.0 + 0.5);
        } else {
            span.topWeight = int((span.fullTop - top) * 256.0 + 0.5);
        }
        span.bottomWeight = int((bottom - span.fullBottom) * 256.0 + 0.5);
        if (span.bottom > span.top) {
            firstRow = std::min(firstRow, span.top);
            endRow = std::max(endRow, span.bottom);
        }
    }
    for (int y = firstRow; y < endRow; ++y) {
        QRgb* line = plotter.row(y);
        for (std::size_t c = 0; c < spans.size(); ++c) {
            const Span& span = spans[c];
            if (y >= span.fullTop && y < span.fullBottom) {
                plotter.blend(line + c, 256);
            } else if (y == span.top && span.topWeight > 0) {
                plotter.blend(line + c, span.topWeight);
            } else if (y == span.fullBottom && y < span.bottom && span.bottomWeight > 0) {
                plotter.blend(line + c, span.bottomWeight);
            }
        }
    }
}

} // namespace koru::framework
