#include "meters/RBPatchMatrix.h"
#include "meters/ui/RBPatchView.h"

#include <QImage>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QTest>

#include <gtest/gtest.h>

#include <memory>

namespace {

// The grid's owner: a number of file channels and a matrix over `columns` device channels.
class Owner : public RBPatchingProtocol {
public:
    Owner(std::uint32_t rows, std::uint32_t columns) : rows(rows) {
        QStringList names;
        for (std::uint32_t k = 0; k < columns; ++k)
            names << QStringLiteral("In %1").arg(k + 1);
        matrix = std::make_unique<RBPatchMatrix>(names);
    }
    RBPatchMatrix* patchMatrix() override { return matrix.get(); }
    std::uint32_t numberChannels() const override { return rows; }

    std::uint32_t rows;
    std::unique_ptr<RBPatchMatrix> matrix;
};

// A pointer move with no button held, as the window system sends it.
void hover(QWidget& widget, QPoint at) {
    QMouseEvent move(QEvent::MouseMove, at, widget.mapToGlobal(at), Qt::NoButton, Qt::NoButton,
                     Qt::NoModifier);
    QCoreApplication::sendEvent(&widget, &move);
}

struct Grid {
    Grid(std::uint32_t rows, std::uint32_t columns) : owner(rows, columns) {
        view.setDelegate(&owner);
    }
    std::int32_t entry(std::uint32_t row) const { return owner.matrix->channelNumberAtIndex(row); }
    QPoint cell(std::uint32_t row, std::int32_t column) const {
        return view.cellCentre(row, column).toPoint();
    }
    Owner owner;
    RBPatchView view;
};

TEST(RBPatchView, TheGridSizesItselfAndMapsPointsToCells) {
    Grid grid(3, 8);
    EXPECT_EQ(grid.view.size(), QSize(8 * 12 + 75, 3 * 12 + 120));
    struct Case {
        QPointF yUp;
        std::uint32_t row;
        std::int32_t column;
        bool inside;
    };
    const Case cases[] = {
        {{75.5, 34.5}, 0, 0, true},  // top row, first column
        {{75.5, 35.5}, 0, 0, false}, // its top point: a 1-point square would reach the labels
        {{170.0, 0.5}, 2, 7, true},  // bottom row, last column
        {{100.0, 0.0}, 2, 2, true},  // the bottom edge is still the last row
        {{170.5, 5.0}, 2, 7, false}, // a 1-point square would stick out on the right
        {{40.0, 10.0}, 2, 0, false}, // row labels
        {{100.0, 40.0}, 0, 2, false} // column labels
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.yUp.x() << "," << c.yUp.y());
        EXPECT_EQ(grid.view.pointIsInPatchingRect(c.yUp), c.inside);
        EXPECT_EQ(grid.view.channelIndexForPoint(c.yUp), c.row);
        EXPECT_EQ(grid.view.channelNumberForPoint(c.yUp), c.column);
    }
    EXPECT_EQ(RBPatchView::destinationNameAtIndex(0), QStringLiteral("Channel 1"));
}

TEST(RBPatchView, ClicksPatchACellAndLabelBandsChangeNothing) {
    Grid grid(2, 8);
    QTest::mouseClick(&grid.view, Qt::LeftButton, {}, grid.cell(1, 5));
    EXPECT_EQ(grid.entry(1), 5);
    EXPECT_EQ(grid.entry(0), 0);
    // The row-label band and the column-label band.
    QTest::mouseClick(&grid.view, Qt::LeftButton, {}, QPoint(30, 126));
    QTest::mouseClick(&grid.view, Qt::LeftButton, {}, QPoint(100, 60));
    EXPECT_EQ(grid.entry(0), 0);
    EXPECT_EQ(grid.entry(1), 5);
}

// The diagonal goes on below the visible rows and wraps its column.
TEST(RBPatchView, DoubleAndOtherClicksFillTheWrappedDiagonal) {
    struct Case {
        const char* what;
        bool doubleClick;
    };
    for (const Case c : {Case{"double click", true}, Case{"right click", false}}) {
        SCOPED_TRACE(c.what);
        Grid grid(2, 8);
        if (c.doubleClick)
            QTest::mouseDClick(&grid.view, Qt::LeftButton, {}, grid.cell(1, 7));
        else
            QTest::mouseClick(&grid.view, Qt::RightButton, {}, grid.cell(1, 7));
        EXPECT_EQ(grid.entry(0), 0);
        EXPECT_EQ(grid.entry(1), 7);
        EXPECT_EQ(grid.entry(2), 0);
        EXPECT_EQ(grid.entry(3), 3) << "only min(rows, columns) entries are filled";
    }
    // Near the end of the 256 entries the fill stops at the last one.
    Grid wide(2, 4);
    wide.owner.rows = 4;
    wide.view.setDelegate(&wide.owner);
    QTest::mouseClick(&wide.view, Qt::RightButton, {}, wide.cell(3, 1));
    EXPECT_EQ(wide.entry(3), 1);
    EXPECT_EQ(wide.entry(6), 0);
}

TEST(RBPatchView, KeysMoveTheHighlightWrapAndPatch) {
    struct Case {
        const char* what;
        std::vector<Qt::Key> keys;
        std::uint32_t row;
        std::int32_t column;
        std::vector<std::pair<std::uint32_t, std::int32_t>> entries;
    };
    const Case cases[] = {
        {"left from the first column", {Qt::Key_Left}, 0, 7, {{0, 0}}},
        {"up from the first row", {Qt::Key_Up}, 2, 0, {}},
        {"right and down", {Qt::Key_Right, Qt::Key_Right, Qt::Key_Down}, 1, 2, {{1, 1}}},
        {"space patches in place", {Qt::Key_Right, Qt::Key_Space}, 0, 1, {{0, 1}}},
        {"return patches and steps",
         {Qt::Key_Right, Qt::Key_Right, Qt::Key_Return},
         1,
         3,
         {{0, 2}, {1, 1}}},
        {"return on the last cell wraps to the first",
         {Qt::Key_Up, Qt::Key_Left, Qt::Key_Return},
         0,
         0,
         {{2, 7}}},
        {"other keys do nothing", {Qt::Key_A, Qt::Key_Tab, Qt::Key_Escape}, 0, 0, {{0, 0}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Grid grid(3, 8);
        for (Qt::Key key : c.keys)
            QTest::keyClick(&grid.view, key);
        EXPECT_EQ(grid.view.highlightedRow(), c.row);
        EXPECT_EQ(grid.view.highlightedColumn(), c.column);
        for (const auto& [row, column] : c.entries)
            EXPECT_EQ(grid.entry(row), column) << "row " << row;
    }
}

TEST(RBPatchView, EscapeIsPassedOnAndTabIsSwallowed) {
    Grid grid(2, 4);
    QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
    QCoreApplication::sendEvent(&grid.view, &escape);
    EXPECT_FALSE(escape.isAccepted()) << "the menu holding the grid closes on Escape";
    QKeyEvent tab(QEvent::KeyPress, Qt::Key_Tab, Qt::NoModifier);
    EXPECT_TRUE(QCoreApplication::sendEvent(&grid.view, &tab));
    EXPECT_TRUE(tab.isAccepted());
}

TEST(RBPatchView, ThePointerMovesTheHighlight) {
    Grid grid(3, 8);
    hover(grid.view, grid.cell(2, 6));
    EXPECT_EQ(grid.view.highlightedRow(), 2u);
    EXPECT_EQ(grid.view.highlightedColumn(), 6);
    // Over the labels it stays.
    hover(grid.view, QPoint(20, 130));
    EXPECT_EQ(grid.view.highlightedRow(), 2u);
}

// Drawn rows count from the top: row 0 sits right under the column labels, and a cross marks
// the cell each file channel takes.
TEST(RBPatchView, TheGridIsDrawnWithCrossesWhereChannelsArePatched) {
    Grid grid(2, 4);
    grid.owner.matrix->patchItemAtIndex(0)->setChannelNumber(2);
    grid.owner.matrix->patchItemAtIndex(1)->setChannelNumber(-1);
    hover(grid.view, grid.cell(1, 0));
    const QImage image = grid.view.grab().toImage();
    const QColor background = grid.view.palette().color(QPalette::Window);
    auto isCross = [&](std::uint32_t row, std::int32_t column) {
        return image.pixelColor(grid.cell(row, column)).lightness() < 110;
    };
    EXPECT_TRUE(isCross(0, 2));
    EXPECT_FALSE(isCross(0, 1));
    EXPECT_FALSE(isCross(1, 2)) << "an unpatched file channel has no cross";
    // The highlighted row carries the blue band; an unhighlighted cell is background.
    const QColor highlighted = image.pixelColor(grid.cell(1, 0) + QPoint(0, 3));
    EXPECT_GT(highlighted.blue(), highlighted.red() + 60);
    EXPECT_EQ(image.pixelColor(grid.cell(0, 3) + QPoint(3, 3)), background);
    // Grid lines run between the cells.
    const QColor line = image.pixelColor(QPoint(75 + 12, 126));
    EXPECT_NE(line, background);
}

} // namespace
