#include "spl/ui/KOSplBigWindowController.h"
#include "support/TestSupport.h"

#include "framework/ColourWell.h"
#include "framework/KOInstrumentControlView.h"
#include "utility/ui/RangeSlider.h"

#include <QComboBox>
#include <QImage>
#include <QLineEdit>
#include <QTest>
#include <QWidget>

#include <gtest/gtest.h>

namespace {

using Big = KOSplBigWindowController;

constexpr std::uint32_t kA = 1633646452;
constexpr std::uint32_t kSlow = 1936486263;

// Pixels near a colour: the digits are antialiased, their inside is the colour itself.
int countNear(const QImage& image, const QColor& colour) {
    int count = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) {
            const QColor pixel = image.pixelColor(x, y);
            if (std::abs(pixel.red() - colour.red()) < 12 &&
                std::abs(pixel.green() - colour.green()) < 12 &&
                std::abs(pixel.blue() - colour.blue()) < 12)
                ++count;
        }
    return count;
}

TEST(SplBigWindow, LevelsAreClampedAndKeptInOrder) {
    struct Case {
        const char* what;
        bool alertFirst;
        float first;
        float second;
        float alert;
        float warning;
    };
    const Case cases[] = {
        {"alert above the range", true, 140.0f, 85.0f, 130.0f, 85.0f},
        {"alert below the range", true, 20.0f, 40.0f, 50.0f, 50.0f},
        {"alert under the warning lowers it", false, 85.0f, 70.0f, 70.0f, 70.0f},
        {"warning over the alert raises it", true, 100.0f, 120.0f, 120.0f, 120.0f},
        {"NaN reads as the lowest", true, std::nanf(""), 60.0f, 60.0f, 60.0f},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Big big;
        EXPECT_EQ(big.alertLevel(), 100.0f);
        EXPECT_EQ(big.warningLevel(), 85.0f);
        if (c.alertFirst) {
            big.setAlertLevel(c.first);
            big.setWarningLevel(c.second);
        } else {
            big.setWarningLevel(c.first);
            big.setAlertLevel(c.second);
        }
        EXPECT_EQ(big.alertLevel(), c.alert);
        EXPECT_EQ(big.warningLevel(), c.warning);
        EXPECT_EQ(big.view()->alertLevel(), c.alert);
        EXPECT_EQ(big.view()->warningLevel(), c.warning);
    }
}

TEST(SplBigWindow, UnknownDisplayModesShowTheCurrentLevel) {
    const std::pair<std::uint32_t, std::uint32_t> cases[] = {
        {0, KOSplBigView::kInst},
        {KOSplBigView::kAvg, KOSplBigView::kAvg},
        {KOSplBigView::kPeak, KOSplBigView::kPeak},
        {KOSplBigView::kLeq, KOSplBigView::kLeq},
        {0x6c657120 /* 'leq ' */, KOSplBigView::kInst},
    };
    for (const auto& [asked, shown] : cases) {
        SCOPED_TRACE(asked);
        Big big;
        big.setDisplayMode(asked);
        EXPECT_EQ(big.displayMode(), shown);
        Big restored(QVariantMap{{Big::kDisplayModeKey, qint64(asked)}});
        EXPECT_EQ(restored.displayMode(), shown);
    }
    Big big;
    big.view()->setValues({91.0f, 82.0f, 99.5f, 88.25f, 0.0f});
    const std::pair<std::uint32_t, const char*> texts[] = {{KOSplBigView::kInst, "91.0 dB"},
                                                           {KOSplBigView::kAvg, "82.0 dB"},
                                                           {KOSplBigView::kPeak, "99.5 dB"},
                                                           {KOSplBigView::kLeq, "88.2 dB"}};
    for (const auto& [mode, text] : texts) {
        big.setDisplayMode(mode);
        EXPECT_EQ(big.view()->displayedText(), QString::fromLatin1(text));
    }
}

// The digits grow with the window: s = min(h - 50, (w - 40) / 4.5), centred over the gauge's
// right.
TEST(SplBigWindow, TheDigitsScaleWithTheWindow) {
    const struct {
        int w, h;
        double size;
        QPointF centre;
    } cases[] = {
        {400, 300, 80.0, {220.0, 125.0}},
        {1300, 200, 150.0, {670.0, 40.0}},
        {230, 160, 190.0 / 4.5, {135.0, 95.0 - 95.0 / 4.5}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.w);
        KOSplBigView view;
        view.show();
        view.resize(c.w, c.h);
        EXPECT_DOUBLE_EQ(view.fontSize(), c.size);
        EXPECT_NEAR(view.textCenter().x(), c.centre.x(), 1e-9);
        EXPECT_NEAR(view.textCenter().y(), c.centre.y(), 1e-9);
        EXPECT_EQ(view.gaugeView()->geometry(), QRect(10, 10, 40, c.h - 20));
    }
}

// Strictly above a level takes its colour: with warning 85 and alert 100, 85.0 is drawn in the
// normal colour, 100.0 in the warning colour and 100.1 in the alert colour.
TEST(SplBigWindow, TheDigitsTakeTheColourOfTheLevelTheyExceed) {
    Big big;
    KOSplBigView* view = big.view();
    view->setInstrumentSpeed(kSlow);
    view->setWeightingType(kA);
    const QColor normal(0, 200, 255);
    const QColor warning(255, 160, 0);
    const QColor alert(255, 0, 200);
    view->setNormalColor(normal);
    view->setWarningColor(warning);
    view->setAlertColor(alert);
    view->show();
    view->resize(400, 300);
    const struct {
        float level;
        QColor expected;
    } cases[] = {{85.0f, normal}, {100.0f, warning}, {100.1f, alert}, {120.0f, alert}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.level);
        view->setValues({c.level, 0.0f, 0.0f, 0.0f, 0.0f});
        const QImage image = view->grab().toImage();
        EXPECT_GT(countNear(image, c.expected), 400);
        for (const QColor& other : {normal, warning, alert}) {
            if (other != c.expected) {
                EXPECT_LT(countNear(image, other), 20);
            }
        }
    }
}

// The panel's two-knob slider sets warning (low knob) and alert (high knob); the read-outs show
// both as "##dB" and take typed levels; everything stays clamped and in order.
TEST(SplBigWindow, TheSliderAndReadOutsSetTheLevels) {
    Big big;
    koru::RangeSlider* slider = big.levelSlider();
    ASSERT_NE(slider, nullptr);
    EXPECT_EQ(slider->minimum(), 50.0);
    EXPECT_EQ(slider->maximum(), 130.0);
    EXPECT_EQ(slider->lowValue(), 85.0);
    EXPECT_EQ(slider->highValue(), 100.0);
    EXPECT_EQ(big.warningReadOut()->text(), QStringLiteral("85dB"));
    EXPECT_EQ(big.alertReadOut()->text(), QStringLiteral("100dB"));

    // The user drags: the slider reports both knobs.
    big.view()->controlView()->show();
    slider->resize(110, 20);
    slider->setFocus();
    QTest::keyClick(slider, Qt::Key_Left); // moves the knob moved last: the high one
    EXPECT_LT(big.alertLevel(), 100.0f);
    EXPECT_EQ(big.view()->alertLevel(), big.alertLevel());
    EXPECT_EQ(big.alertReadOut()->text(), Big::readOutText(big.alertLevel()));

    struct Case {
        const char* what;
        bool alert;
        const char* typed;
        float warning;
        float expectedAlert;
    };
    const Case cases[] = {
        {"a warning level with its unit", false, "90dB", 90.0f, 100.0f},
        {"an alert level below the warning pulls it down", true, " 75 ", 75.0f, 75.0f},
        {"a warning above the range", false, "300", 130.0f, 130.0f},
        {"a decimal comma", true, "120,5 dB", 120.5f, 120.5f},
        {"no number changes nothing", false, "loud", 120.5f, 120.5f},
    };
    big.setAlertLevel(100.0f);
    big.setWarningLevel(85.0f);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        QLineEdit* field = c.alert ? big.alertReadOut() : big.warningReadOut();
        field->setText(QString::fromLatin1(c.typed));
        emit field->editingFinished();
        EXPECT_EQ(big.warningLevel(), c.warning);
        EXPECT_EQ(big.alertLevel(), c.expectedAlert);
        EXPECT_EQ(slider->lowValue(), double(c.warning));
        EXPECT_EQ(slider->highValue(), double(c.expectedAlert));
        EXPECT_EQ(field->text(), Big::readOutText(c.alert ? c.expectedAlert : c.warning));
    }
}

// The colour wells show and set the view's warning and alert colours, and the chosen colours
// and levels come back with a restored window.
TEST(SplBigWindow, TheColourWellsSetTheColoursSavedWithTheWindow) {
    Big big;
    EXPECT_EQ(big.warningColorWell()->color(), QColor(Qt::yellow));
    EXPECT_EQ(big.alertColorWell()->color(), QColor(Qt::red));
    const QColor warning = QColor::fromRgbF(1.0f, 0.5f, 0.0f);
    const QColor alert = QColor::fromRgbF(0.5f, 0.0f, 1.0f);
    emit big.warningColorWell()->colorChanged(warning);
    emit big.alertColorWell()->colorChanged(alert);
    EXPECT_EQ(big.view()->warningColor(), warning);
    EXPECT_EQ(big.view()->alertColor(), alert);
    // A colour set on the view shows in its well.
    big.view()->setWarningColor(Qt::green);
    EXPECT_EQ(big.warningColorWell()->color(), QColor(Qt::green));

    big.setDisplayMode(KOSplBigView::kPeak);
    big.setAlertLevel(110.0f);
    big.setWarningLevel(95.0f);
    Big restored(big.dictionaryRepresentation());
    EXPECT_EQ(restored.displayMode(), KOSplBigView::kPeak);
    EXPECT_EQ(restored.modePopUp()->currentData().toLongLong(), qint64(KOSplBigView::kPeak));
    EXPECT_EQ(restored.alertLevel(), 110.0f);
    EXPECT_EQ(restored.warningLevel(), 95.0f);
    EXPECT_EQ(restored.levelSlider()->lowValue(), 95.0);
    EXPECT_EQ(restored.view()->warningColor(), QColor(Qt::green));
    EXPECT_EQ(restored.view()->alertColor().rgb(), alert.rgb());
    EXPECT_EQ(restored.alertColorWell()->color().rgb(), alert.rgb());
}

TEST(SplBigWindow, GoesFullScreenAndBack) {
    Big big;
    big.window()->show();
    big.toggleFullScreen();
    EXPECT_TRUE(big.window()->windowState() & Qt::WindowFullScreen);
    big.toggleFullScreen();
    EXPECT_FALSE(big.window()->windowState() & Qt::WindowFullScreen);
}

} // namespace
