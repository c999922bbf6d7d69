#include "support/TestSupport.h"
#include "utility/VEDecibelTransformer.h"
#include "utility/ValueBinding.h"
#include "utility/ui/KOScrollWheelFilter.h"
#include "utility/ui/KOSliderAdditions.h"
#include "utility/ui/KOTextFieldAdditions.h"

#include <QApplication>
#include <QDoubleSpinBox>
#include <QLineEdit>
#include <QSignalSpy>
#include <QSlider>
#include <QWheelEvent>

#include <gtest/gtest.h>

#include <limits>

namespace {

class Mixer : public QObject {
    Q_OBJECT
    Q_PROPERTY(double gain MEMBER gain)
public:
    double gain = -1.0;
};

// Sends a wheel event of whole notches (x positive: to the left; y positive: upwards) the way
// the application delivers it, so the application-wide filter sees it.
void turn(QWidget& widget, int notchesX, int notchesY) {
    const QPointF centre(widget.width() / 2.0, widget.height() / 2.0);
    QWheelEvent event(centre, widget.mapToGlobal(centre), QPoint(),
                      QPoint(notchesX * 120, notchesY * 120), Qt::NoButton, Qt::NoModifier,
                      Qt::NoScrollPhase, false);
    QApplication::sendEvent(&widget, &event);
}

class ScrollWheelTest : public testing::Test {
protected:
    static void SetUpTestSuite() { KOScrollWheelFilter::installApplicationWide(); }
};

TEST_F(ScrollWheelTest, ASliderMovesAHundredthOfItsRangePerNotch) {
    QSlider slider(Qt::Horizontal);
    slider.setRange(0, 200);
    slider.setValue(100);
    QSignalSpy action(&slider, &QSlider::valueChanged);
    const struct {
        int x, y, value;
    } turns[] = {{0, 1, 102}, {-1, 0, 100}, {1, 0, 102}, {0, -3, 96}, {1, 1, 100}, {-1, 1, 100}};
    for (const auto& t : turns) {
        turn(slider, t.x, t.y);
        EXPECT_EQ(slider.value(), t.value) << t.x << "," << t.y;
    }
    EXPECT_EQ(action.count(), 5) << "one action per change";
    turn(slider, 0, 100);
    EXPECT_EQ(slider.value(), 200) << "the slider keeps itself in range";

    constexpr double kInf = std::numeric_limits<double>::infinity();
    for (QPointF bad : {QPointF(std::numeric_limits<double>::quiet_NaN(), 0), QPointF(0, kInf)}) {
        KOSliderAdditions::scrollWheel(slider, bad);
        EXPECT_EQ(slider.value(), 200);
    }
    KOSliderAdditions::scrollWheel(slider, QPointF(0, -1e300));
    EXPECT_EQ(slider.value(), 0);
}

TEST_F(ScrollWheelTest, AShortRangeStillMovesOverSeveralNotches) {
    QSlider slider(Qt::Horizontal);
    slider.setRange(0, 25);
    slider.setValue(5);
    for (int i = 0; i < 4; ++i)
        turn(slider, 0, 1);
    EXPECT_EQ(slider.value(), 6) << "four quarter steps add up to one";
    for (int i = 0; i < 4; ++i)
        turn(slider, 0, -1);
    EXPECT_EQ(slider.value(), 5);
}

TEST_F(ScrollWheelTest, ABoundSliderWritesTheReverseTransformedValue) {
    QSlider slider(Qt::Horizontal);
    slider.setRange(-100, 0);
    slider.setValue(-26);
    Mixer mixer;
    new koru::utility::ValueBinding(slider, "value", &mixer, "gain",
                                    std::make_shared<VEDecibelTransformer>());
    turn(slider, 0, 6);
    EXPECT_EQ(slider.value(), -20);
    EXPECT_NEAR(mixer.gain, 0.1, 1e-12) << "-20 dB as a gain";
}

TEST_F(ScrollWheelTest, AnEditableFieldWithAnActionStepsByOnePerNotch) {
    QLineEdit field(QStringLiteral("10"));
    int actions = 0;
    QObject::connect(&field, &QLineEdit::editingFinished, [&] { ++actions; });
    turn(field, 0, 3);
    EXPECT_EQ(field.text(), "13");
    EXPECT_EQ(actions, 1);
    turn(field, 1, 0);
    EXPECT_EQ(field.text(), "14");
    field.setText(QStringLiteral("2.5 dB"));
    turn(field, -1, 0);
    EXPECT_EQ(field.text(), "1.5");
    EXPECT_EQ(actions, 3);

    field.setText(QStringLiteral("3e38"));
    KOTextFieldAdditions::scrollWheel(field, QPointF(0, 1e39));
    EXPECT_EQ(field.text(), "3e38") << "a step beyond what a float holds changes nothing";
    EXPECT_EQ(actions, 3);

    field.setText(QStringLiteral("level"));
    turn(field, 0, 1);
    EXPECT_EQ(field.text(), "level");
    EXPECT_EQ(actions, 3);
}

TEST_F(ScrollWheelTest, FieldsThatCannotBeEditedOrHaveNoActionKeepTheirValue) {
    QLineEdit readOnly(QStringLiteral("10"));
    readOnly.setReadOnly(true);
    int actions = 0;
    QObject::connect(&readOnly, &QLineEdit::editingFinished, [&] { ++actions; });
    turn(readOnly, 0, 1);
    EXPECT_EQ(readOnly.text(), "10");

    QLineEdit silent(QStringLiteral("10"));
    turn(silent, 0, 1);
    EXPECT_EQ(silent.text(), "10");
    EXPECT_EQ(actions, 0);

    QDoubleSpinBox spin;
    spin.setRange(0, 100);
    spin.setValue(10);
    spin.setSingleStep(5);
    turn(spin, 0, 1);
    EXPECT_EQ(spin.value(), 15) << "spin boxes step themselves";
}

} // namespace

#include "ScrollWheel_test.moc"
