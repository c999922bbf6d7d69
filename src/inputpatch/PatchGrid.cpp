#include "inputpatch/PatchGrid.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace koru {

namespace {

std::int32_t flooredIndex(double offset, double side) {
    const double index = std::floor(offset / side);
    if (std::isnan(index))
        return -1;
    // Far outside any channel range, whatever the view's size.
    return std::int32_t(std::clamp(index, double(std::numeric_limits<std::int32_t>::min()),
                                   double(std::numeric_limits<std::int32_t>::max())));
}

// Left and top edges belong to an area, right and bottom ones to its neighbour.
bool contains(const QRectF& area, QPointF point) {
    return point.x() >= area.left() && point.x() < area.right() && point.y() >= area.top() &&
           point.y() < area.bottom();
}

} // namespace

QRectF PatchGrid::destinationLabelArea() const {
    return {0.0, labelWidth, labelWidth, viewSize.height() - labelWidth};
}

QRectF PatchGrid::sourceLabelArea() const {
    return {labelWidth, 0.0, viewSize.width() - labelWidth, labelWidth};
}

QRectF PatchGrid::gridArea() const {
    return {labelWidth, labelWidth, viewSize.width() - labelWidth, viewSize.height() - labelWidth};
}

QRectF PatchGrid::row(std::int32_t destination) const {
    return {0.0, labelWidth + destination * cellSide, viewSize.width(), cellSide};
}

QRectF PatchGrid::column(std::int32_t source) const {
    return {labelWidth + source * cellSide, 0.0, cellSide, viewSize.height()};
}

QRectF PatchGrid::cell(std::int32_t source, std::int32_t destination) const {
    return {labelWidth + source * cellSide, labelWidth + destination * cellSide, cellSide,
            cellSide};
}

QSizeF PatchGrid::preferredSize() const {
    const double side = channels * cellSide + labelWidth;
    return {side, side};
}

PatchGrid::Hit PatchGrid::hit(QPointF point) const {
    Hit hit;
    hit.source = flooredIndex(point.x() - labelWidth, cellSide);
    hit.destination = flooredIndex(point.y() - labelWidth, cellSide);
    hit.inGrid = contains(gridArea(), point);
    hit.inDestinationLabels = contains(destinationLabelArea(), point);
    return hit;
}

std::int64_t PatchGrid::diagonalOffset(std::int32_t source, std::int32_t destination,
                                       std::uint32_t channels) {
    if (source >= destination)
        return std::int64_t(source) - destination;
    return std::int64_t(channels) - destination + source;
}

std::int32_t PatchGrid::wrappedSelection(std::int32_t selection, std::uint32_t channels) {
    if (channels == 0)
        return -1;
    if (selection < 0)
        return std::int32_t(channels - 1);
    if (std::uint32_t(selection) >= channels)
        return 0;
    return selection;
}

} // namespace koru
