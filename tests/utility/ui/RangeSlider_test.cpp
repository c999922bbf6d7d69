#include "utility/ui/RangeSlider.h"

#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

namespace {

using koru::RangeSlider;

class RangeSliderTest : public testing::Test {
protected:
    RangeSliderTest() {
        slider.resize(210, 15); // 200 px of track: 0.5 units per pixel
        slider.setRange(0.0, 100.0);
        slider.setValues(20.0, 80.0);
    }
    QPoint at(double value) const { return {int(std::lround(slider.positionOf(value))), 7}; }
    RangeSlider slider;
    QSignalSpy spy{&slider, &RangeSlider::valuesChanged};
};

TEST_F(RangeSliderTest, SettersClampAndNeverEmit) {
    slider.setValues(-10.0, 500.0);
    EXPECT_EQ(slider.lowValue(), 0.0);
    EXPECT_EQ(slider.highValue(), 100.0);
    slider.setValues(70.0, 30.0); // the low knob never passes the high one
    EXPECT_EQ(slider.highValue(), 30.0);
    EXPECT_EQ(slider.lowValue(), 30.0);
    slider.setRange(50.0, 40.0); // reversed bounds swap; the values follow into the range
    EXPECT_EQ(slider.minimum(), 40.0);
    EXPECT_EQ(slider.maximum(), 50.0);
    EXPECT_EQ(slider.lowValue(), 40.0);
    EXPECT_EQ(slider.highValue(), 40.0);
    EXPECT_EQ(spy.count(), 0);
}

TEST_F(RangeSliderTest, DraggingTheHighKnobReportsEveryStep) {
    QTest::mousePress(&slider, Qt::LeftButton, {}, at(80.0));
    for (double value : {85.0, 90.0, 95.0}) {
        QMouseEvent move(QEvent::MouseMove, QPointF(at(value)),
                         slider.mapToGlobal(QPointF(at(value))), Qt::NoButton, Qt::LeftButton,
                         Qt::NoModifier);
        QCoreApplication::sendEvent(&slider, &move);
    }
    QTest::mouseRelease(&slider, Qt::LeftButton, {}, at(95.0));
    ASSERT_GE(spy.count(), 3);
    EXPECT_NEAR(spy.last().at(1).toDouble(), 95.0, 0.5);
    EXPECT_EQ(spy.last().at(0).toDouble(), 20.0);
    EXPECT_NEAR(slider.highValue(), 95.0, 0.5);
}

TEST_F(RangeSliderTest, LowKnobStopsAtTheHighKnob) {
    QTest::mousePress(&slider, Qt::LeftButton, {}, at(20.0));
    QMouseEvent move(QEvent::MouseMove, QPointF(at(99.0)), slider.mapToGlobal(QPointF(at(99.0))),
                     Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(&slider, &move);
    QTest::mouseRelease(&slider, Qt::LeftButton, {}, at(99.0));
    EXPECT_EQ(slider.lowValue(), 80.0);
    EXPECT_EQ(slider.highValue(), 80.0);
    // knobs on top of each other: a press right of them takes the high knob away
    QTest::mousePress(&slider, Qt::LeftButton, {}, at(90.0));
    QTest::mouseRelease(&slider, Qt::LeftButton, {}, at(90.0));
    EXPECT_EQ(slider.lowValue(), 80.0);
    EXPECT_NEAR(slider.highValue(), 90.0, 0.5);
}

TEST_F(RangeSliderTest, ArrowKeysMoveTheLastKnobByAHundredth) {
    QTest::keyClick(&slider, Qt::Key_Right);
    EXPECT_DOUBLE_EQ(slider.highValue(), 81.0);
    QTest::mouseClick(&slider, Qt::LeftButton, {}, at(25.0));
    QTest::keyClick(&slider, Qt::Key_Left);
    EXPECT_NEAR(slider.lowValue(), 24.0, 0.5);
    EXPECT_EQ(spy.count(), 3);
}

} // namespace
