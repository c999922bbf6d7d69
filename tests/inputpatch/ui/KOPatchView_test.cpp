#include "inputpatch/ui/KOPatchView.h"

#include "PatchViewTestSupport.h"

#include "inputpatch/ui/KODestinationAliasViewController.h"
#include "inputpatch/ui/KOPatchViewDelegate.h"

#include <QFontMetricsF>
#include <QLineEdit>
#include <QPropertyAnimation>
#include <QPushButton>
#include <QTest>

#include <gtest/gtest.h>

#include <vector>

namespace {

using koru::test::colourAt;
using koru::test::hover;
using koru::test::LogLines;
using koru::test::PatchPalette;

class Permission : public KOPatchViewDelegate {
public:
    bool canPatchWithMouse() const override { return allowed; }
    bool allowed = true;
};

class PatchViewTest : public testing::Test {
protected:
    PatchViewTest() {
        view.setPalette(PatchPalette::make());
        view.setDelegate(&permission);
        view.setPatchMatrix(matrix);
        view.resize(view.preferredSize());
    }

    std::vector<std::int32_t> map() const {
        std::vector<std::int32_t> result(matrix->numChannels());
        matrix->copyMap(result.data(), nullptr);
        return result;
    }
    void setMap(std::vector<std::int32_t> entries) {
        matrix->setMap(entries.data(), std::uint32_t(entries.size()));
    }
    QPoint centre(std::int32_t source, std::int32_t destination) const {
        return view.cellRect(source, destination).center().toPoint();
    }
    // A point in the label of destination d, clear of the grid lines.
    QPoint label(std::int32_t destination) const {
        return {20, int(view.labelWidth() + destination * view.matrixHeight() + 8)};
    }
    void click(QPoint at, Qt::KeyboardModifiers modifiers = {}) {
        QTest::mouseClick(&view, Qt::LeftButton, modifiers, at);
    }
    // What a double click delivers: press, release, double click, release.
    void doubleClick(QPoint at) {
        QTest::mouseClick(&view, Qt::LeftButton, {}, at);
        QTest::mouseDClick(&view, Qt::LeftButton, {}, at);
        QTest::mouseRelease(&view, Qt::LeftButton, {}, at);
    }
    void key(Qt::Key code, bool autoRepeat = false) {
        QKeyEvent press(QEvent::KeyPress, code, Qt::NoModifier, QString(), autoRepeat);
        QCoreApplication::sendEvent(&view, &press);
    }
    QImage rendered() {
        QImage image(view.size(), QImage::Format_ARGB32);
        image.fill(Qt::transparent);
        view.render(&image);
        return image;
    }
    // The plain colour of an unselected, unpatched cell.
    static QColor stripe(std::int32_t source, std::int32_t destination) {
        return (source % 2 == 1 || destination % 2 == 1) ? PatchPalette::alternateBase()
                                                         : PatchPalette::base();
    }
    QColor cellColour(const QImage& image, std::int32_t source, std::int32_t destination) const {
        return colourAt(image, centre(source, destination));
    }

    std::shared_ptr<KOPatchMatrix> matrix = KOPatchMatrix::initWithLength(8);
    Permission permission;
    KOPatchView view;
};

const std::vector<std::int32_t> kIdentity{0, 1, 2, 3, 4, 5, 6, 7};

TEST_F(PatchViewTest, ClickPatchesACellAndASecondClickUnpatchesIt) {
    ASSERT_EQ(view.preferredSize(), QSize(268, 268));
    click({140 + 3 * 16 + 1, 141});
    EXPECT_EQ(matrix->sourceChannelForDestination(0), 3);
    click({140 + 3 * 16 + 1, 141});
    EXPECT_EQ(matrix->sourceChannelForDestination(0), -1);
    EXPECT_EQ(matrix->humanReadableDestinationNameAtIndex(0), QStringLiteral("-"));
    // On the grid, a double click is two clicks: the cell ends as it was.
    doubleClick(centre(5, 5));
    EXPECT_EQ(matrix->sourceChannelForDestination(5), 5);
    EXPECT_EQ(view.aliasPopover(), nullptr);
}

TEST_F(PatchViewTest, ModifiedClickLaysTheWrappedDiagonal) {
    const struct {
        const char* label;
        Qt::KeyboardModifiers modifiers;
        std::vector<std::int32_t> expected;
    } cases[] = {
        {"Shift", Qt::ShiftModifier, {6, 7, 0, 1, 2, 3, 4, 5}},
        {"Alt", Qt::AltModifier, {6, 7, 0, 1, 2, 3, 4, 5}},
        {"Ctrl", Qt::ControlModifier, {6, 7, 0, 1, 2, 3, 4, 5}},
        // Meta does not count: a plain toggle of cell (1, 3).
        {"Meta", Qt::MetaModifier, {0, 1, 2, 1, 4, 5, 6, 7}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        matrix->make1by1patch();
        click(centre(1, 3), c.modifiers);
        EXPECT_EQ(map(), c.expected);
    }
    // Above the diagonal the offset needs no wrap.
    click(centre(5, 2), Qt::ShiftModifier);
    EXPECT_EQ(map(), (std::vector<std::int32_t>{3, 4, 5, 6, 7, 0, 1, 2}));
}

TEST_F(PatchViewTest, ClicksBeyondTheCellsChangeNothingAndKeepTheViewWorking) {
    view.resize(400, 400); // a window larger than the grid
    LogLines log;
    const std::vector<QPoint> outside{{140 + 8 * 16 + 5, 141}, {141, 140 + 8 * 16 + 5}};
    for (const QPoint at : outside) {
        click(at);
        click(at, Qt::ShiftModifier);
    }
    EXPECT_EQ(map(), kIdentity);
    EXPECT_GE(log.count("refused"), 3);
    click(centre(2, 0));
    EXPECT_EQ(matrix->sourceChannelForDestination(0), 2);
}

TEST_F(PatchViewTest, WithoutMousePermissionClicksDoNothingButKeysStillPatch) {
    permission.allowed = false;
    click(centre(3, 0));
    click(centre(1, 3), Qt::ShiftModifier);
    EXPECT_EQ(map(), kIdentity);
    view.setSelection(3, 0);
    key(Qt::Key_Space);
    EXPECT_EQ(matrix->sourceChannelForDestination(0), 3);
}

TEST_F(PatchViewTest, KeysMoveWrapAndPatch) {
    const struct {
        const char* label;
        std::int32_t source, destination;
        Qt::Key key;
        bool autoRepeat;
        std::int32_t newSource, newDestination;
        std::vector<std::int32_t> map;
    } cases[] = {
        {"right", 2, 2, Qt::Key_Right, false, 3, 2, kIdentity},
        {"right wraps", 7, 2, Qt::Key_Right, false, 0, 2, kIdentity},
        {"left wraps", 0, 2, Qt::Key_Left, false, 7, 2, kIdentity},
        {"left from nothing", -1, 4, Qt::Key_Left, false, 7, 4, kIdentity},
        {"up wraps", 2, 0, Qt::Key_Up, false, 2, 7, kIdentity},
        {"down wraps", 2, 7, Qt::Key_Down, false, 2, 0, kIdentity},
        {"space patches", 2, 5, Qt::Key_Space, false, 2, 5, {0, 1, 2, 3, 4, 2, 6, 7}},
        {"space unpatches", 5, 5, Qt::Key_Space, false, 5, 5, {0, 1, 2, 3, 4, -1, 6, 7}},
        {"held space", 2, 5, Qt::Key_Space, true, 2, 5, kIdentity},
        {"return walks the diagonal", 2, 5, Qt::Key_Return, false, 3, 6, {0, 1, 2, 3, 4, 2, 6, 7}},
        {"return at the end wraps", 7, 7, Qt::Key_Return, false, 0, 0, {0, 1, 2, 3, 4, 5, 6, -1}},
        // A selection off the grid: the matrix refuses, nothing moves.
        {"return without a source", -1, 3, Qt::Key_Return, false, -1, 3, kIdentity},
        {"space below the cells", 3, 8, Qt::Key_Space, false, 3, 8, kIdentity},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        matrix->make1by1patch();
        view.setSelection(c.source, c.destination);
        key(c.key, c.autoRepeat);
        EXPECT_EQ(view.selectedSource(), c.newSource);
        EXPECT_EQ(view.selectedDestination(), c.newDestination);
        EXPECT_EQ(map(), c.map);
    }
}

TEST_F(PatchViewTest, HoldingSpaceTogglesOnce) {
    view.setSelection(4, 1);
    key(Qt::Key_Space);
    for (int i = 0; i < 5; ++i)
        key(Qt::Key_Space, true);
    EXPECT_EQ(matrix->sourceChannelForDestination(1), 4);
}

TEST_F(PatchViewTest, OtherKeysArePassedOn) {
    view.setSelection(-1, -1);
    QKeyEvent press(QEvent::KeyPress, Qt::Key_A, Qt::NoModifier, QStringLiteral("a"));
    EXPECT_FALSE(view.keyDown(press));
    EXPECT_EQ(view.selectedSource(), -1);
}

TEST_F(PatchViewTest, FontAndIdealLabelWidthFollowTheNames) {
    const struct {
        double height;
        double fontSize;
    } fonts[] = {{12.0, 8.0}, {16.0, 10.0}, {20.0, 10.0}};
    for (const auto& f : fonts) {
        view.setMatrixHeight(f.height);
        EXPECT_EQ(view.fontSize(), f.fontSize) << f.height;
    }
    view.setMatrixHeight(16.0);
    EXPECT_EQ(view.idealLabelWidth(), 150.0);

    // Ten channels: the last label reads "(10) ...", one digit wider than its 0-based number.
    const std::shared_ptr<KOPatchMatrix> ten = KOPatchMatrix::initWithLength(10);
    view.setPatchMatrix(ten);
    const QFontMetricsF metrics(view.labelFont());
    QString alias = QStringLiteral("Overhead");
    while (metrics.horizontalAdvance(QStringLiteral("(9) ") + alias) < 200.0)
        alias += QStringLiteral(" left");
    ten->setDestinationChannelAlias(alias, 9);
    const double drawn = metrics.horizontalAdvance(QStringLiteral("(10) ") + alias);
    ASSERT_GT(drawn, metrics.horizontalAdvance(QStringLiteral("(9) ") + alias));
    EXPECT_DOUBLE_EQ(view.idealLabelWidth(), drawn + 10.0);

    // Source names count too; nothing goes beyond 300.
    ten->setSourceChannelName(alias + alias, 4);
    EXPECT_EQ(view.idealLabelWidth(), 300.0);
    view.setPatchMatrix(nullptr);
    EXPECT_EQ(view.idealLabelWidth(), 150.0);
}

TEST_F(PatchViewTest, CrossesAndTheSelectionBendAreDrawn) {
    setMap({3, 1, 2, 3, 4, -1, 6, 7});
    view.setSelection(3, 2);
    const QImage image = rendered();
    const struct {
        const char* label;
        std::int32_t source, destination;
        QColor colour;
    } cases[] = {
        {"cross on the bend's row", 2, 2, PatchPalette::highlightedText()},
        {"cross on the bend's column", 3, 0, PatchPalette::highlightedText()},
        {"cross below the bend", 3, 3, KOPatchView::kCrossColour},
        {"cross off the bend", 1, 1, KOPatchView::kCrossColour},
        {"bend's row", 0, 2, PatchPalette::selectedItem()},
        {"selected cell", 3, 2, PatchPalette::selectedItem()},
        {"bend's column", 3, 1, PatchPalette::selectedItem()},
        {"right of the bend", 4, 2, stripe(4, 2)},
        {"below the bend", 3, 4, stripe(3, 4)},
        {"unpatched destination", 5, 5, stripe(5, 5)},
        {"even row and column", 6, 4, stripe(6, 4)},
        {"odd column", 1, 0, stripe(1, 0)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        EXPECT_EQ(cellColour(image, c.source, c.destination), c.colour);
    }
    // The bend reaches into both label areas.
    EXPECT_EQ(colourAt(image, {5, 140 + 2 * 16 + 1}), PatchPalette::selectedItem());
    EXPECT_EQ(colourAt(image, {int(140 + 3 * 16 + 2), 3}), PatchPalette::selectedItem());
    // Grid lines run through the labels.
    EXPECT_EQ(colourAt(image, {140, 20}), PatchPalette::grid());
    EXPECT_EQ(colourAt(image, {20, 140 + 16}), PatchPalette::grid());
}

TEST_F(PatchViewTest, HoveringASourceLabelShowsWhereItGoes) {
    setMap({3, 1, 2, 3, 4, 5, 6, 7});
    hover(view, {140 + 3 * 16 + 8, 100});
    ASSERT_EQ(view.selectedSource(), 3);
    EXPECT_LT(view.selectedDestination(), 0);
    const QImage image = rendered();
    const QColor control = PatchPalette::selectedControl();
    EXPECT_EQ(cellColour(image, 1, 0), control); // row 0 up to column 3
    EXPECT_EQ(cellColour(image, 1, 3), control); // row 3
    EXPECT_EQ(cellColour(image, 3, 1), control); // the column above the lowest row
    EXPECT_EQ(cellColour(image, 1, 1), KOPatchView::kCrossColour);
    EXPECT_EQ(cellColour(image, 2, 1), stripe(2, 1));
    EXPECT_EQ(cellColour(image, 3, 5), stripe(3, 5)); // below the lowest row
    EXPECT_EQ(cellColour(image, 0, 4), stripe(0, 4));
}

TEST_F(PatchViewTest, HoveringADestinationLabelSlidesTheHighlightToItsSource) {
    setMap({0, 1, 2, 3, 4, 6, -1, 7});
    // The label's last pixels: rounding towards zero would have made this column 0.
    hover(view, {139, int(140 + 5 * 16 + 8)});
    ASSERT_EQ(view.selectedDestination(), 5);
    EXPECT_LT(view.selectedSource(), 0);
    QPropertyAnimation* slide = view.highlightAnimation();
    ASSERT_EQ(slide->state(), QAbstractAnimation::Running);
    EXPECT_EQ(slide->endValue().toDouble(), 6.0);
    EXPECT_EQ(slide->duration(), 90); // |0 - 6| x 10 ms + 30 ms
    slide->setCurrentTime(slide->duration() / 2);
    EXPECT_DOUBLE_EQ(view.selectedSourceFloat(), 3.0);
    slide->setCurrentTime(slide->duration());
    EXPECT_EQ(view.selectedSourceFloat(), 6.0);

    QImage image = rendered();
    const QColor control = PatchPalette::selectedControl();
    EXPECT_EQ(cellColour(image, 2, 5), control);
    EXPECT_EQ(cellColour(image, 6, 5), KOPatchView::kCrossColour);
    EXPECT_EQ(cellColour(image, 6, 3), control);
    EXPECT_EQ(cellColour(image, 7, 5), stripe(7, 5));

    // An unpatched destination's label draws no bend.
    hover(view, {60, int(140 + 6 * 16 + 8)});
    slide->setCurrentTime(slide->duration());
    EXPECT_EQ(view.selectedSourceFloat(), -1.0);
    image = rendered();
    for (std::int32_t s = 0; s < 8; ++s)
        EXPECT_NE(cellColour(image, s, 6), control) << s;

    QEvent leave(QEvent::Leave);
    QCoreApplication::sendEvent(&view, &leave);
    EXPECT_EQ(view.selectedSource(), -1);
    EXPECT_EQ(view.selectedDestination(), -1);
}

TEST_F(PatchViewTest, SourceLabelsReadUpwardsAndTheSelectedOnesStandOut) {
    matrix->setSourceChannelName(QStringLiteral("Room Microphone Left"), 0);
    view.setSelection(0, 2);
    const QImage image = rendered();
    using koru::test::boundsOf;
    using koru::test::isSelectedText;
    using koru::test::isText;
    // Inside the cells' borders, clear of the grid lines.
    const QRect selectedSource(141, 0, 15, 140);
    const QRect otherSource(157, 0, 15, 140);
    const QRect selectedDestination(0, 140 + 2 * 16 + 1, 140, 15);
    const QRect otherDestination(0, 140 + 4 * 16 + 1, 140, 15);

    for (const QRect& column :
         {boundsOf(image, selectedSource, isSelectedText), boundsOf(image, otherSource, isText)}) {
        ASSERT_TRUE(column.isValid());
        EXPECT_GT(column.height(), 3 * column.width()); // written upwards
        EXPECT_GT(column.bottom(), 125);                // from just above the grid
    }
    const QRect longName = boundsOf(image, selectedSource, isSelectedText);
    EXPECT_GT(longName.height(), boundsOf(image, otherSource, isText).height());
    for (const QRect& row : {boundsOf(image, selectedDestination, isSelectedText),
                             boundsOf(image, otherDestination, isText)}) {
        ASSERT_TRUE(row.isValid());
        EXPECT_GT(row.width(), 2 * row.height());
        EXPECT_LT(row.left(), 6);
    }
    EXPECT_FALSE(boundsOf(image, otherDestination, isSelectedText).isValid());
    EXPECT_FALSE(boundsOf(image, selectedDestination, isText).isValid());
}

TEST_F(PatchViewTest, DoubleClickOnALabelOpensTheAliasPopover) {
    view.show();
    doubleClick(label(2));
    auto* popover = view.aliasInputViewController();
    ASSERT_NE(popover, nullptr);
    EXPECT_EQ(view.aliasPopover(), popover);
    EXPECT_TRUE(popover->isVisible());
    EXPECT_EQ(view.aliasDestination(), 2u);
    EXPECT_EQ(popover->aliasString(), QStringLiteral("Channel 2"));
    // One at a time.
    doubleClick(label(4));
    EXPECT_EQ(view.aliasDestination(), 2u);
    EXPECT_EQ(map(), kIdentity);

    QTest::keyClicks(popover->aliasField(), QStringLiteral("  Kick "));
    QTest::keyClick(popover->aliasField(), Qt::Key_Return);
    EXPECT_EQ(matrix->humanReadableDestinationNameAtIndex(2), QStringLiteral("Kick"));
    EXPECT_EQ(view.aliasPopover(), nullptr);
    EXPECT_FALSE(popover->isVisible());
}

TEST_F(PatchViewTest, PopoverButtonsEnterWalkAndCancel) {
    view.show();
    matrix->setDestinationChannelAlias(QStringLiteral("Snare"), 6);
    const struct {
        const char* label;
        std::uint32_t destination;
        QString typed;
        QPushButton* (KODestinationAliasViewController::*button)() const;
        Qt::Key key; // used when there is no button
        std::uint32_t shownNext;
        QString stored;
    } cases[] = {
        {"enter", 1, "Bass", &KODestinationAliasViewController::enterButton, Qt::Key_unknown, 8,
         "Bass"},
        {"next", 3, "Tom", &KODestinationAliasViewController::nextButton, Qt::Key_unknown, 4,
         "Tom"},
        {"next after the last", 7, "Hat", nullptr, Qt::Key_Tab, 0, "Hat"},
        {"cancel", 4, "Lost", &KODestinationAliasViewController::cancelButton, Qt::Key_unknown, 8,
         "Channel 4"},
        {"escape", 4, "Lost", nullptr, Qt::Key_Escape, 8, "Channel 4"},
        // The source's own name, or nothing, removes the alias.
        {"source's name", 6, "Channel 6", &KODestinationAliasViewController::enterButton,
         Qt::Key_unknown, 8, "Channel 6"},
        {"blank", 1, "   ", &KODestinationAliasViewController::enterButton, Qt::Key_unknown, 8,
         "Channel 1"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        view.removeAliasWindow();
        view.showDestinationAliasWindowForDestination(c.destination);
        KODestinationAliasViewController* popover = view.aliasInputViewController();
        ASSERT_NE(view.aliasPopover(), nullptr);
        popover->aliasField()->setText(c.typed);
        if (c.button)
            (popover->*c.button)()->click();
        else
            QTest::keyClick(popover->aliasField(), c.key);
        EXPECT_EQ(matrix->humanReadableDestinationNameAtIndex(c.destination), c.stored);
        if (c.shownNext < 8) {
            EXPECT_EQ(view.aliasPopover(), popover);
            EXPECT_EQ(view.aliasDestination(), c.shownNext);
            EXPECT_EQ(popover->aliasString(),
                      matrix->humanReadableDestinationNameAtIndex(c.shownNext));
        } else {
            EXPECT_EQ(view.aliasPopover(), nullptr);
            EXPECT_FALSE(popover->isVisible());
        }
    }
}

TEST_F(PatchViewTest, APopoverThatClosedItselfDoesNotBlockTheNextOne) {
    view.show();
    doubleClick(label(1));
    QWidget* popover = view.aliasPopover();
    ASSERT_NE(popover, nullptr);
    // What a click elsewhere does to a popup.
    popover->hide();
    EXPECT_EQ(view.aliasPopover(), nullptr);
    doubleClick(label(5));
    EXPECT_EQ(view.aliasPopover(), popover);
    EXPECT_EQ(view.aliasDestination(), 5u);
}

TEST_F(PatchViewTest, ThePopoverSitsLeftOfTheViewOnItsRow) {
    QWidget window;
    struct GiveBack {
        KOPatchView& view;
        ~GiveBack() { view.setParent(nullptr); }
    } giveBack{view};
    view.setParent(&window);
    view.move(0, 0);
    window.resize(view.size());
    window.move(400, 60);
    window.show();
    view.showDestinationAliasWindowForDestination(3);
    QWidget* popover = view.aliasPopover();
    ASSERT_NE(popover, nullptr);
    const QPoint viewLeft = view.mapToGlobal(QPoint(0, 0));
    EXPECT_EQ(popover->frameGeometry().right() + 1, viewLeft.x());
    const double row = viewLeft.y() + 140 + 3.5 * 16;
    EXPECT_NEAR(popover->frameGeometry().center().y(), row, 1.0);
    // A new matrix closes it.
    view.setPatchMatrix(KOPatchMatrix::initWithLength(2));
    EXPECT_EQ(view.aliasPopover(), nullptr);
}

} // namespace
