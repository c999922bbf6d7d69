#include "spl/ui/KOSplBigWindowController.h"
#include "support/TestSupport.h"

#include <QImage>
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

TEST(SplBigWindow, GoesFullScreenAndBack) {
    Big big;
    big.window()->show();
    big.toggleFullScreen();
    EXPECT_TRUE(big.window()->windowState() & Qt::WindowFullScreen);
    big.toggleFullScreen();
    EXPECT_FALSE(big.window()->windowState() & Qt::WindowFullScreen);
}

} // namespace
