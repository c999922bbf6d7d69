#include "utility/VEColor.h"
#include "utility/VEEventAdditions.h"
#include "utility/ValueBinding.h"
#include "utility/ui/VEColorWellCell.h"
#include "utility/ui/VEPopUpButtonAdditions.h"
#include "utility/ui/VEViewAdditions.h"
#include "utility/ui/VEViewController.h"
#include "utility/ui/VEWhiteTextFieldCell.h"
#include "utility/ui/ZOBlkTextFieldCell.h"

#include <QApplication>
#include <QColorDialog>
#include <QComboBox>
#include <QScrollArea>
#include <QScrollBar>
#include <QTest>

#include <gtest/gtest.h>

namespace {

// --- Colours ---------------------------------------------------------------------------------

TEST(VEColorText, EightHexDigitsBothWays) {
    const QColor red = VEColor::colorFromRgbaString("ff000080");
    ASSERT_TRUE(red.isValid());
    EXPECT_EQ(red.red(), 255);
    EXPECT_EQ(red.green(), 0);
    EXPECT_FLOAT_EQ(red.alphaF(), 128.0f / 255.0f);
    for (const char* bad :
         {"ff0000", "ff00008", "ff0000800", "gg000080", "-f000080", " f000080", ""})
        EXPECT_FALSE(VEColor::colorFromRgbaString(QString::fromLatin1(bad)).isValid()) << bad;

    const struct {
        QColor colour;
        const char* text;
    } cases[] = {
        {QColor::fromRgbF(1, 0, 0, 128 / 255.0f), "ff000080"},
        {QColor::fromRgbF(0.5f, 0.5f, 0.5f, 1), "7f7f7fff"}, // truncated, not rounded
        {QColor::fromRgbF(0.2f, 0.7f, 0.9f, 1), "33b2e5ff"},
        {QColor::fromHsvF(0, 1, 1), "ff0000ff"},
        {QColor(), "778899ff"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(VEColor::rgbaStringValue(c.colour), QString::fromLatin1(c.text));
    EXPECT_EQ(VEColor::rgbaStringValue(VEColor::colorFromRgbaString("12abCDef")), "12abcdef");
}

TEST(VEColorRandom, ComponentsComeFromTheNumbersBytes) {
    const QColor colour = VEColor::randomColor(0x11223344u);
    EXPECT_EQ(colour.red(), 0x11);
    EXPECT_EQ(colour.green(), 0x22);
    EXPECT_EQ(colour.blue(), 0x33);
    EXPECT_EQ(colour.alpha(), 255);

    const QList<QColor> list{Qt::red, Qt::green, Qt::blue};
    EXPECT_EQ(VEColor::nextColor(list, 0), QColor(Qt::green));
    EXPECT_EQ(VEColor::nextColor(list, 2), QColor(Qt::red));
    EXPECT_EQ(VEColor::nextColor(list, 0xFFFFFFFFu), QColor(Qt::red)) << "r + 1 wraps to 0";
    EXPECT_FALSE(VEColor::nextColor({}, 5).has_value());
    EXPECT_FALSE(VEColor::nextColor({}).has_value());
}

TEST(VEColorGradient, ControlBackgroundFromLightToDarkerGrey) {
    const QLinearGradient gradient = VEColor::controlBackgroundGradient();
    ASSERT_EQ(gradient.stops().size(), 2);
    EXPECT_EQ(gradient.stops().first().second, QColor::fromRgbF(0.851f, 0.851f, 0.851f));
    EXPECT_EQ(gradient.stops().last().second, QColor::fromRgbF(0.7f, 0.7f, 0.7f));
    QImage image(100, 4, QImage::Format_ARGB32);
    QPainter painter(&image);
    painter.fillRect(image.rect(), gradient);
    painter.end();
    EXPECT_NEAR(image.pixelColor(0, 2).red(), 217, 1);
    EXPECT_NEAR(image.pixelColor(99, 2).red(), 179, 1);
}

// --- Events and pop-ups -------------------------------------------------------------------------

TEST(VEEventAdditions, EachTestReadsItsOwnModifier) {
    const struct {
        Qt::KeyboardModifiers held;
        bool shift, control, alt, command;
    } cases[] = {
        {Qt::NoModifier, false, false, false, false},
        {Qt::ShiftModifier, true, false, false, false},
        {Qt::MetaModifier, false, true, false, false},
        {Qt::AltModifier, false, false, true, false},
        {Qt::ControlModifier, false, false, false, true},
        {Qt::ShiftModifier | Qt::ControlModifier, true, false, false, true},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(VEEventAdditions::shiftKeyPressed(c.held), c.shift);
        EXPECT_EQ(VEEventAdditions::controlKeyPressed(c.held), c.control);
        EXPECT_EQ(VEEventAdditions::altKeyPressed(c.held), c.alt);
        EXPECT_EQ(VEEventAdditions::commandKeyPressed(c.held), c.command);
    }
}

TEST(VEPopUpButtonAdditions, TheTagGoesToTheItemJustAdded) {
    QComboBox popUp;
    VEPopUpButtonAdditions::addItemWithTitle(popUp, "Slow", 'slow');
    VEPopUpButtonAdditions::addItemWithTitle(popUp, "Fast", 'fast');
    ASSERT_EQ(popUp.count(), 2);
    EXPECT_EQ(popUp.itemText(1), "Fast");
    EXPECT_EQ(popUp.itemData(0).toLongLong(), qint64('slow'));
    EXPECT_EQ(popUp.itemData(1).toLongLong(), qint64('fast'));
}

// --- Views
// ----------------------------------------------------------------------------------------

TEST(VEViewAdditions, SizeSettersChangeOnlyTheirComponent) {
    QWidget view;
    view.setGeometry(10, 20, 300, 200);
    VEViewAdditions::setWidth(view, 120);
    EXPECT_EQ(view.geometry(), QRect(10, 20, 120, 200));
    VEViewAdditions::setHeight(view, 80);
    EXPECT_EQ(view.geometry(), QRect(10, 20, 120, 80));
    EXPECT_EQ(VEViewAdditions::width(view), 120);
    EXPECT_EQ(VEViewAdditions::height(view), 80);
}

TEST(VEViewAdditions, TheVisiblePartOfALongRow) {
    QScrollArea area;
    area.setFrameShape(QFrame::NoFrame);
    area.setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    area.setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    auto* row = new QWidget;
    row->resize(2000, 100);
    area.setWidget(row);
    area.resize(500, 100);
    area.show();
    QApplication::processEvents();
    area.horizontalScrollBar()->setValue(500);
    QApplication::processEvents();

    using Range = VEViewAdditions::DataRange;
    EXPECT_EQ(VEViewAdditions::visibleDataRangeOfLength(*row, 1000), (Range{250, 250}));
    EXPECT_EQ(VEViewAdditions::visibleDataRangeOfLength(*row, 0), (Range{0, 0}));
    area.horizontalScrollBar()->setValue(0);
    QApplication::processEvents();
    EXPECT_EQ(VEViewAdditions::visibleDataRangeOfLength(*row, 4000), (Range{0, 1000}));

    row->resize(0, 100);
    EXPECT_EQ(VEViewAdditions::visibleDataRangeOfLength(*row, 1000), (Range{0, 0}))
        << "no width, no division by zero";
    QWidget hidden;
    hidden.resize(100, 10);
    EXPECT_EQ(VEViewAdditions::visibleDataRangeOfLength(hidden, 1000), (Range{0, 0}));
}

TEST(VEViewController, FromNothingUpTo900SquareSavedUnderItsTitle) {
    VEViewController controller;
    controller.setWindowTitle("Levels");
    EXPECT_EQ(controller.minSize(), QSize(0, 0));
    EXPECT_EQ(controller.maxSize(), QSize(900, 900));
    EXPECT_TRUE(controller.resizeable());
    EXPECT_EQ(controller.frameSaveName(), "Levels");
    controller.resize(2000, 50);
    EXPECT_EQ(controller.size(), QSize(900, 50));
}

// --- Cells -----------------------------------------------------------------------------------

QColor pixelAt(QWidget& widget, QPoint point) {
    return widget.grab().toImage().pixelColor(point);
}

TEST(VEColorWellCell, FrameAndSwatchInsetByFour) {
    VEColorWellCell well;
    QPalette palette = well.palette();
    palette.setColor(QPalette::WindowText, Qt::black);
    palette.setColor(QPalette::Window, Qt::white);
    well.setPalette(palette);
    well.setAutoFillBackground(true);
    well.resize(40, 20);
    well.setObjectValue(QColor(Qt::blue));
    EXPECT_EQ(well.objectValue().value<QColor>(), QColor(Qt::blue));
    EXPECT_EQ(pixelAt(well, {0, 10}), QColor(Qt::black)) << "the frame";
    EXPECT_EQ(pixelAt(well, {2, 10}), QColor(Qt::white)) << "between frame and swatch";
    EXPECT_EQ(pixelAt(well, {4, 10}), QColor(Qt::blue)) << "the swatch starts 4 in";
    EXPECT_EQ(pixelAt(well, {35, 15}), QColor(Qt::blue));
    EXPECT_EQ(pixelAt(well, {36, 15}), QColor(Qt::white));

    well.setObjectValue(QStringLiteral("blue"));
    EXPECT_FALSE(well.objectValue().isValid()) << "only colours are colours";
    EXPECT_EQ(pixelAt(well, {20, 10}), QColor(Qt::white));
}

class Theme : public QObject {
    Q_OBJECT
    Q_PROPERTY(QColor trace MEMBER trace)
public:
    QColor trace;
};

TEST(VEColorWellCell, TheSharedPanelWorksForTheWellClickedLast) {
    VEColorWellCell first;
    VEColorWellCell second;
    Theme theme;
    new koru::utility::ValueBinding(second, "color", &theme, "trace");
    first.setColor(Qt::red);
    second.setColor(Qt::green);
    first.show();
    second.show();

    QTest::mouseClick(&first, Qt::LeftButton);
    EXPECT_EQ(VEColorWellCell::activeWell(), &first);
    EXPECT_TRUE(VEColorWellCell::sharedColorPanel().isVisible());
    VEColorWellCell::sharedColorPanel().setCurrentColor(Qt::yellow);
    EXPECT_EQ(first.color(), QColor(Qt::yellow));

    QTest::mouseClick(&second, Qt::LeftButton);
    EXPECT_EQ(VEColorWellCell::sharedColorPanel().currentColor(), QColor(Qt::green));
    EXPECT_FALSE(theme.trace.isValid()) << "opening the panel writes nothing";
    VEColorWellCell::sharedColorPanel().setCurrentColor(Qt::cyan);
    EXPECT_EQ(second.color(), QColor(Qt::cyan));
    EXPECT_EQ(theme.trace, QColor(Qt::cyan)) << "through the well's binding";
    EXPECT_EQ(first.color(), QColor(Qt::yellow)) << "the first well let go of the panel";
    VEColorWellCell::sharedColorPanel().hide();
}

TEST(TextFieldCells, WhiteDrawsNoBackgroundBlackEditsOnDarkGrey) {
    QWidget panel;
    panel.setAutoFillBackground(true);
    QPalette dark = panel.palette();
    dark.setColor(QPalette::Window, QColor(20, 40, 60));
    panel.setPalette(dark);
    panel.resize(200, 40);
    auto* white = new VEWhiteTextFieldCell(&panel);
    white->setGeometry(0, 0, 200, 20);
    auto* black = new ZOBlkTextFieldCell(&panel);
    black->setGeometry(0, 20, 200, 20);
    panel.show();
    QApplication::processEvents();

    EXPECT_FALSE(white->drawsBackground());
    EXPECT_EQ(white->palette().color(QPalette::Text), QColor(Qt::white));
    EXPECT_EQ(pixelAt(panel, {150, 10}), QColor(20, 40, 60)) << "the panel shows through";
    white->setFocus();
    QApplication::processEvents();
    EXPECT_EQ(pixelAt(panel, {150, 10}), QColor(20, 40, 60)) << "also while editing";

    const QColor shown = black->palette().color(QPalette::Base);
    QFocusEvent in(QEvent::FocusIn, Qt::OtherFocusReason);
    QApplication::sendEvent(black, &in);
    EXPECT_EQ(black->palette().color(QPalette::Base), ZOBlkTextFieldCell::editingBackground());
    QFocusEvent out(QEvent::FocusOut, Qt::OtherFocusReason);
    QApplication::sendEvent(black, &out);
    EXPECT_EQ(black->palette().color(QPalette::Base), shown);
}

} // namespace

#include "InterfaceAdditions_test.moc"
