#include "framework/KOColorAdditions.h"
#include "framework/KOLevelHistoryViewDelegate.h"
#include "spl/KOSPLData.h"
#include "spl/KOSPLLog.h"
#include "spl/ui/KOSPLHistoryView.h"
#include "spl/ui/KOSplView.h"

#include <QImage>

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace {

// A pixel whose colour is the trace blue's hue, strong enough to be drawn rather than
// background.
bool isBlue(QRgb pixel) {
    const QColor colour(pixel);
    return colour.blue() > 150 && colour.red() < 120 && colour.blue() > colour.green();
}

bool isReddish(QRgb pixel) {
    const QColor colour(pixel);
    return colour.red() > colour.green() + 40 && colour.red() > colour.blue() + 40;
}

// Also a one-point line straddling two pixel rows, each at half strength.
bool isYellow(QRgb pixel) {
    const QColor colour(pixel);
    return colour.red() > colour.blue() + 80 && colour.green() > colour.blue() + 80 &&
           std::abs(colour.red() - colour.green()) < 30;
}

int countIn(const QImage& image, const QRect& area, bool (*test)(QRgb)) {
    int count = 0;
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x)
            if (test(image.pixel(x, y)))
                ++count;
    return count;
}

QImage render(QWidget& view) {
    return view.grab().toImage().convertToFormat(QImage::Format_RGB32);
}

// The read-out draws the level where the layout puts it (centred at W/2 + 30, 58 points above
// the bottom, counted upwards) in the trace blue, and "UNCALIBRATED" in red only while the
// meter has no calibration.
TEST(SplReadout, TextsStandWhereTheLayoutPutsThemAndUncalibratedShowsInRed) {
    KOSplView view;
    view.resize(281, 221);
    view.setWeightingType(0x635f7774);   // 'c_wt'
    view.setInstrumentSpeed(0x66617374); // 'fast'
    EXPECT_EQ(view.infoString(), "C-Weighted, Fast");
    view.setValues({94.3f, 92.0f, 97.0f, 93.0f, 83.4f});
    view.setNextLEQResetTimeString(QStringLiteral("(29:00)"));
    EXPECT_EQ(view.levelText(), "94.3 dB");
    EXPECT_EQ(view.leqText(), "LEQ: 93.0 dB (83)");
    view.setNextLEQResetTimeString(std::nullopt);
    EXPECT_EQ(view.leqText(), "LEQ: 93.0 dB (-)");
    view.setValues({25.0f, 92.0f, 97.0f, 93.0f, 83.4f});
    EXPECT_EQ(view.levelText(), "--.- dB");

    view.setValues({94.3f, 92.0f, 97.0f, 93.0f, 83.4f});
    for (bool calibrated : {true, false}) {
        SCOPED_TRACE(calibrated);
        view.setCalibrated(calibrated);
        const QImage image = render(view);
        const int w = image.width();
        const int h = image.height();
        const double cx = w / 2.0 + 30;
        // The layout counts upwards from the bottom: the big digits' line box ends at
        // y0 = H - 58, which is 58 rows from the top.
        const QRect digits(int(cx) - 60, 58 - 40, 120, 38);
        EXPECT_GT(countIn(image, digits, isBlue), 200);
        // Centred on cx: about as much ink left of it as right of it.
        const int left =
            countIn(image, QRect(int(cx) - 80, digits.top(), 80, digits.height()), isBlue);
        const int right = countIn(image, QRect(int(cx), digits.top(), 80, digits.height()), isBlue);
        EXPECT_LT(std::abs(left - right), (left + right) / 3);
        // The AVG line 58 points further down.
        EXPECT_GT(countIn(image, QRect(int(cx) - 60, 116 - 18, 120, 18), isBlue), 50);
        // Below the last line (the next-reset text ends at y0 - 130) only the gauge draws.
        EXPECT_EQ(countIn(image, QRect(60, 58 + 130 + 4, w - 60, h - 58 - 130 - 4), isBlue), 0);
        // "UNCALIBRATED" in red across the middle.
        const QRect mark(int(w / 2.0) - 110, h / 2 - 18, 220, 34);
        if (calibrated) {
            EXPECT_EQ(countIn(image, mark, isReddish), 0);
        } else {
            EXPECT_GT(countIn(image, mark, isReddish), 100);
        }
    }
}

class SpeedRecorder : public KOLevelHistoryViewDelegate {
public:
    void historyViewDidChangeSpeed(float speed) override { speeds.push_back(speed); }
    std::vector<float> speeds;
};

// A log of 120 seconds at 80 dB with LEQ at 90 dB: the filled SPL area rises from the bottom to
// the 80-dB height over the newest 120 points at the right edge, the LEQ line runs at 90 dB,
// the AVG line is off.
TEST(SplHistory, TheLogIsDrawnAsAnAreaAndLinesAtTheirLevels) {
    auto log = std::make_shared<KOSPLLog>();
    for (int i = 0; i < 120; ++i)
        log->addSPL(80.0f, 60.0f, 90.0f);
    KOSPLHistoryView view;
    view.resize(400, 200);
    view.setSplLog(log);
    EXPECT_TRUE(view.hasSPLData());
    ASSERT_EQ(view.speed(), 1.0);

    const auto y = [](double db) { return int(200 - (db - 30.0) * 200 / 100.0); };
    for (bool drawSPL : {true, false}) {
        SCOPED_TRACE(drawSPL);
        view.setDrawSPL(drawSPL);
        const QImage image = render(view);
        // Inside the area: the newest 120 points, below the 80-dB line.
        const QRect area(300, y(80) + 4, 90, y(30) - y(80) - 8);
        const QRect above(300, y(90) + 4, 90, y(80) - y(90) - 8);
        const QRect older(60, y(80) + 4, 200, 40);
        if (drawSPL) {
            EXPECT_GT(countIn(image, area, isBlue), area.width() * area.height() * 9 / 10);
        } else {
            EXPECT_EQ(countIn(image, area, isBlue), 0);
        }
        EXPECT_EQ(countIn(image, above, isBlue), 0);
        EXPECT_EQ(countIn(image, older, isBlue), 0);
        // The LEQ line at 90 dB.
        EXPECT_GT(countIn(image, QRect(300, y(90) - 1, 90, 3), isYellow), 60);
        EXPECT_EQ(countIn(image, QRect(300, y(90) + 5, 90, 20), isYellow), 0);
    }
}

TEST(SplHistory, SpeedIsClampedAndGroupsPositionsAndSelectionsFollowIt) {
    auto log = std::make_shared<KOSPLLog>();
    for (int i = 0; i < 59; ++i)
        log->addSPL(70.0f, 70.0f, 70.0f);
    KOSPLHistoryView view;
    SpeedRecorder recorder;
    view.setDelegate(&recorder);
    view.resize(400, 200);
    view.setSplLog(log);
    EXPECT_FALSE(view.hasSPLData());
    log->addSPL(70.0f, 70.0f, 70.0f);
    EXPECT_TRUE(view.hasSPLData());

    const struct {
        double asked;
        double speed;
    } speeds[] = {{5.0, 1.0}, {0.001, 1.0 / 360}, {0.1, 0.1}, {std::nan(""), 0.1}};
    for (const auto& c : speeds) {
        SCOPED_TRACE(c.asked);
        view.setSpeed(c.asked);
        EXPECT_NEAR(view.speed(), c.speed, 1e-7);
        EXPECT_NEAR(view.loggingPeriod(), 1.0 / c.speed, 1e-3);
    }
    EXPECT_NEAR(recorder.speeds.back(), 0.1, 1e-6);
    view.setSpeed(1.0);
    // Newest record at the right edge, one point apart.
    EXPECT_EQ(view.xForDataPosition(60), 400.0);
    EXPECT_EQ(view.xForDataPosition(0), 340.0);
    EXPECT_EQ(view.dataPositionAtX(340.0), 0u);
    EXPECT_EQ(view.dataPositionAtX(10.0), 0u);
    EXPECT_EQ(view.dataPositionAtX(390.0), 50u);
    // Nothing selected: the whole log is exported.
    EXPECT_EQ(view.selectionRange(), std::make_pair(std::uint64_t(0), std::uint64_t(60)));

    const QVariantMap settings{{KOSPLHistoryView::kDrawSPLKey, false},
                               {KOSPLHistoryView::kZoomKey, 0.5}};
    view.setDrawAVG(true);
    view.loadSettingsFromDictionary(settings);
    EXPECT_FALSE(view.drawSPL());
    EXPECT_TRUE(view.drawAVG()); // not in the dictionary: kept
    EXPECT_EQ(view.speed(), 0.5);
    view.loadSettingsFromDictionary({{KOSPLHistoryView::kZoomKey, QStringLiteral("fast")}});
    EXPECT_EQ(view.speed(), 0.5);
}

} // namespace
