#include "inputpatch/PatchGrid.h"

#include <gtest/gtest.h>

#include <limits>

namespace {

using koru::PatchGrid;

PatchGrid eightChannels(QSizeF view = {268.0, 268.0}) {
    PatchGrid grid;
    grid.labelWidth = 140.0;
    grid.cellSide = 16.0;
    grid.channels = 8;
    grid.viewSize = view;
    return grid;
}

TEST(PatchGrid, PreferredSizeHoldsExactlyTheCells) {
    EXPECT_EQ(eightChannels().preferredSize(), QSizeF(268.0, 268.0));
    const QRectF last = eightChannels().cell(7, 7);
    EXPECT_EQ(last.bottomRight(), QPointF(268.0, 268.0));
}

TEST(PatchGrid, PointsFallInTheirRowColumnAndArea) {
    const struct {
        const char* label;
        QPointF point;
        std::int32_t source;
        std::int32_t destination;
        bool inGrid;
        bool inLabels;
    } cases[] = {
        {"top row, column 3", {140.0 + 3 * 16 + 1, 141.0}, 3, 0, true, false},
        {"grid's first pixel", {140.0, 140.0}, 0, 0, true, false},
        {"last cell", {267.5, 267.5}, 7, 7, true, false},
        // Rounding towards zero would put these in column or row 0 and draw a bend there.
        {"last pixel of a destination label", {139.5, 150.0}, -1, 0, false, true},
        {"last pixel of a source label", {150.0, 139.5}, 0, -1, false, false},
        {"destination label's left edge", {0.0, 160.0}, -9, 1, false, true},
        {"corner above the labels", {130.0, 130.0}, -1, -1, false, false},
        {"right edge belongs to no area", {268.0, 150.0}, 8, 0, false, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        const PatchGrid::Hit hit = eightChannels().hit(c.point);
        EXPECT_EQ(hit.source, c.source);
        EXPECT_EQ(hit.destination, c.destination);
        EXPECT_EQ(hit.inGrid, c.inGrid);
        EXPECT_EQ(hit.inDestinationLabels, c.inLabels);
    }
}

TEST(PatchGrid, AViewLargerThanItsCellsHasGridBeyondThem) {
    const PatchGrid::Hit hit = eightChannels({400.0, 400.0}).hit({140.0 + 8 * 16 + 5, 390.0});
    EXPECT_TRUE(hit.inGrid);
    EXPECT_EQ(hit.source, 8);
    EXPECT_EQ(hit.destination, 15);
    // Far outside any channel range, the index stays a number.
    PatchGrid tiny = eightChannels({1e12, 1e12});
    tiny.cellSide = 1e-9;
    EXPECT_EQ(tiny.hit({1e11, 150.0}).source, std::numeric_limits<std::int32_t>::max());
}

TEST(PatchGrid, DiagonalOffsetWrapsAroundTheMatrix) {
    const struct {
        std::int32_t source;
        std::int32_t destination;
        std::int64_t offset;
    } cases[] = {
        {1, 3, 6},
        {3, 1, 2},
        {0, 0, 0},
        {7, 0, 7},
        {0, 7, 1},
        // Outside the cells: N or more, which the view refuses.
        {8, 0, 8},
        {12, 2, 10},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(PatchGrid::diagonalOffset(c.source, c.destination, 8), c.offset)
            << c.source << "," << c.destination;
    }
}

TEST(PatchGrid, SelectionsWrapAtBothEnds) {
    const struct {
        std::int32_t selection;
        std::uint32_t channels;
        std::int32_t wrapped;
    } cases[] = {
        {8, 8, 0}, {-1, 8, 7}, {-2, 8, 7}, {3, 8, 3},
        {0, 8, 0}, {7, 8, 7},  {12, 8, 0}, // left beyond the cells by the pointer, then moved on
        {0, 1, 0}, {1, 1, 0},  {-1, 1, 0}, {5, 0, -1},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(PatchGrid::wrappedSelection(c.selection, c.channels), c.wrapped)
            << c.selection << " of " << c.channels;
    }
}

} // namespace
