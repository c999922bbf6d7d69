#pragma once

#include <QPointF>
#include <QRectF>
#include <QSizeF>

#include <cstdint>

namespace koru {

// Where the patch view puts things, y-down: source labels in a strip across the top (y < L),
// destination labels in a column down the left (x < L), and below and right of both the grid
// of N x N square cells of side h. Row d is destination d, column s is source s. The grid area
// reaches to the view's edges, so a view larger than its preferred size has grid area beyond
// the cells.
struct PatchGrid {
    double labelWidth = 140.0;  // L
    double cellSide = 16.0;     // h, > 0
    std::uint32_t channels = 0; // N
    QSizeF viewSize;

    struct Hit {
        // Column and row under the point, counted from the grid's top-left corner: negative
        // left of or above the grid, N or more right of or below the cells.
        std::int32_t source = -1;
        std::int32_t destination = -1;
        bool inGrid = false;
        bool inDestinationLabels = false;
    };

    QRectF destinationLabelArea() const;
    QRectF sourceLabelArea() const;
    QRectF gridArea() const;
    // The full-width stripe of row d, and the full-height stripe of column s.
    QRectF row(std::int32_t destination) const;
    QRectF column(std::int32_t source) const;
    QRectF cell(std::int32_t source, std::int32_t destination) const;
    // The square in which the grid holds exactly N x N cells.
    QSizeF preferredSize() const;

    // Both axes are floored, so the last pixels of the label areas never count as row or
    // column 0.
    Hit hit(QPointF point) const;

    // The offset of the wrapped diagonal through cell (s, d): (s - d) mod N for cells inside the
    // grid; cells outside it may give N or more.
    static std::int64_t diagonalOffset(std::int32_t source, std::int32_t destination,
                                       std::uint32_t channels);
    // A selection moved past either end comes back at the other: N or more become 0, negative
    // values N - 1.
    static std::int32_t wrappedSelection(std::int32_t selection, std::uint32_t channels);
    static bool isValidSelection(std::int32_t selection, std::uint32_t channels) {
        return selection >= 0 && std::uint32_t(selection) < channels;
    }
};

} // namespace koru
