#include "support/TestSupport.h"
#include "utility/ValueBinding.h"
#include "utility/ui/VETimeIntervalField.h"

#include <QApplication>
#include <QClipboard>
#include <QMimeData>
#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

#include <limits>

namespace {

class Schedule : public QObject {
    Q_OBJECT
    Q_PROPERTY(double duration MEMBER duration)
public:
    double duration = -1.0;
};

class IntervalFieldTest : public testing::Test {
protected:
    IntervalFieldTest() {
        field.resize(120, 24);
        field.show();
    }
    // Puts the field at a value with one component selected, as a click would.
    void start(double seconds, int component) {
        field.setTimeInterval(seconds);
        field.setSelectedComponent(component);
    }
    void type(const char* keys) { QTest::keyClicks(&field, QString::fromLatin1(keys)); }
    void press(Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
        QTest::keyClick(&field, key, modifiers);
    }

    VETimeIntervalField field;
};

TEST_F(IntervalFieldTest, TwoDigitsFillAComponentAndMoveOn) {
    start(0, VETimeIntervalField::kMinutes);
    type("7");
    EXPECT_EQ(field.text(), "00:07:00");
    EXPECT_EQ(field.selectedComponent(), VETimeIntervalField::kMinutes);
    EXPECT_EQ(field.selectedText(), "07");
    type("5");
    EXPECT_EQ(field.text(), "01:15:00") << "75 minutes carry into the hours";
    EXPECT_EQ(field.timeInterval(), 4500);
    EXPECT_EQ(field.selectedComponent(), VETimeIntervalField::kSeconds);
    EXPECT_EQ(field.selectedText(), "00");
    type("3");
    type("0");
    EXPECT_EQ(field.text(), "01:15:30");
    EXPECT_EQ(field.selectedComponent(), VETimeIntervalField::kHours) << "seconds wrap to hours";
    type("x-");
    EXPECT_EQ(field.text(), "01:15:30") << "letters and a minus change nothing";
}

TEST_F(IntervalFieldTest, ArrowsStepThroughZeroAndTheSignFollows) {
    start(0, VETimeIntervalField::kSeconds);
    press(Qt::Key_Down);
    EXPECT_EQ(field.text(), "-00:00:01");
    EXPECT_EQ(field.selectedText(), "01");
    press(Qt::Key_Up);
    EXPECT_EQ(field.text(), "00:00:00");
    start(-3600, VETimeIntervalField::kHours);
    press(Qt::Key_Down);
    EXPECT_EQ(field.text(), "-02:00:00") << "down shrinks the value, whatever its sign";
    EXPECT_EQ(field.selectedText(), "-02");
    press(Qt::Key_Up);
    press(Qt::Key_Up);
    EXPECT_EQ(field.text(), "00:00:00");
}

TEST_F(IntervalFieldTest, HoursOfAnyWidthKeepTheComponentsInPlace) {
    start(359999, VETimeIntervalField::kSeconds); // 99:59:59
    press(Qt::Key_Up);
    EXPECT_EQ(field.text(), "100:00:00");
    EXPECT_EQ(field.selectedText(), "00");
    EXPECT_EQ(field.componentRange(VETimeIntervalField::kSeconds), std::make_pair(7, 2));
    field.setSelectedComponent(VETimeIntervalField::kMinutes);
    EXPECT_EQ(field.selectedComponent(), VETimeIntervalField::kMinutes);
    field.setSelectedComponent(5);
    EXPECT_EQ(field.selectedComponent(), VETimeIntervalField::kMinutes);
}

TEST_F(IntervalFieldTest, TabAndArrowsMoveBetweenComponentsWithoutLeaving) {
    QWidget next;
    start(3723, VETimeIntervalField::kSeconds);
    field.setFocus();
    press(Qt::Key_Tab);
    EXPECT_EQ(field.selectedComponent(), VETimeIntervalField::kHours);
    press(Qt::Key_Backtab);
    EXPECT_EQ(field.selectedComponent(), VETimeIntervalField::kSeconds);
    press(Qt::Key_Right);
    EXPECT_EQ(field.selectedComponent(), VETimeIntervalField::kHours);
    press(Qt::Key_Left);
    press(Qt::Key_Left);
    EXPECT_EQ(field.selectedComponent(), VETimeIntervalField::kMinutes);
    EXPECT_EQ(field.text(), "01:02:03");
}

TEST_F(IntervalFieldTest, BackspaceClearsAComponentDeleteClearsAll) {
    start(-3723, VETimeIntervalField::kMinutes);
    press(Qt::Key_Backspace);
    EXPECT_EQ(field.text(), "-01:00:03");
    press(Qt::Key_Delete);
    EXPECT_EQ(field.text(), "00:00:00");
    EXPECT_EQ(field.timeInterval(), 0.0);
}

TEST_F(IntervalFieldTest, EditsGoThroughTheBindingAndSignalProgrammaticChangesDoNot) {
    Schedule schedule;
    new koru::utility::ValueBinding(field, "value", &schedule, "duration");
    QSignalSpy edited(&field, &VETimeIntervalField::intervalEdited);
    field.setTimeInterval(60);
    EXPECT_EQ(schedule.duration, -1.0);
    EXPECT_EQ(edited.count(), 0);
    field.setSelectedComponent(VETimeIntervalField::kSeconds);
    type("4");
    EXPECT_EQ(schedule.duration, 64.0);
    ASSERT_EQ(edited.count(), 1);
    EXPECT_EQ(edited.at(0).at(0).toDouble(), 64.0);
    press(Qt::Key_Return);
    EXPECT_EQ(edited.count(), 1) << "return leaves the value alone";
}

TEST_F(IntervalFieldTest, CopyAndPasteCarryTheSecondsBetweenFields) {
    VETimeIntervalField other;
    other.show();
    start(3725.4, VETimeIntervalField::kHours);
    press(Qt::Key_C, Qt::ControlModifier);
    const QMimeData* data = QGuiApplication::clipboard()->mimeData();
    ASSERT_TRUE(data->hasFormat(VETimeIntervalField::kMimeType));
    EXPECT_EQ(data->data(VETimeIntervalField::kMimeType), "3725.4");

    QSignalSpy edited(&other, &VETimeIntervalField::intervalEdited);
    QTest::keyClick(&other, Qt::Key_V, Qt::ControlModifier);
    EXPECT_EQ(other.timeInterval(), 3725.4);
    EXPECT_EQ(other.text(), "01:02:05");
    EXPECT_EQ(edited.count(), 1);

    QGuiApplication::clipboard()->setText(QStringLiteral("00:00:09"));
    EXPECT_FALSE(VETimeIntervalField::clipboardHoldsInterval());
    QTest::keyClick(&other, Qt::Key_V, Qt::ControlModifier);
    EXPECT_EQ(other.timeInterval(), 3725.4) << "plain text is no interval";
}

TEST_F(IntervalFieldTest, TextsAndObjectsTheFieldAcceptsOrRefuses) {
    field.setStringValue(QStringLiteral("x 1:2:3 y"));
    EXPECT_TRUE(field.hasValue());
    EXPECT_EQ(field.objectValue().toDouble(), 3723);
    EXPECT_EQ(field.text(), "01:02:03");

    field.setStringValue(QStringLiteral("1:2"));
    EXPECT_FALSE(field.hasValue());
    EXPECT_FALSE(field.objectValue().isValid());
    EXPECT_EQ(field.text(), "01:02:03") << "an unreadable text changes nothing else";
    EXPECT_EQ(field.stringValue(), "01:02:03");

    field.setValue(QVariant(-90.0));
    EXPECT_EQ(field.text(), "-00:01:30");
    field.setObjectValue(QVariant(QStringLiteral("10")));
    EXPECT_FALSE(field.hasValue());
    field.setTimeInterval(std::numeric_limits<double>::quiet_NaN());
    EXPECT_EQ(field.timeInterval(), -90.0) << "a value that is no number is ignored";
    field.setValue(QVariant::fromValue(QSize(1, 1)));
    EXPECT_EQ(field.timeInterval(), -90.0);
}

} // namespace

#include "VETimeIntervalField_test.moc"
