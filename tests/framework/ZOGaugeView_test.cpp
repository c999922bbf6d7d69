#include "framework/KOColorAdditions.h"
#include "framework/ZOGaugeView.h"
#include "support/TestSupport.h"

#include <QImage>
#include <QPropertyAnimation>

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <thread>

namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();

class GaugeTest : public testing::Test {
protected:
    GaugeTest() { gauge.resize(60, 100); }
    // Runs the level's glide to its end without waiting for it.
    void finishAnimation() {
        QPropertyAnimation* animation = gauge.levelAnimation();
        animation->setCurrentTime(animation->duration());
    }
    QImage grab() { return gauge.grab().toImage().convertToFormat(QImage::Format_ARGB32); }

    ZOGaugeView gauge;
};

TEST_F(GaugeTest, SmallChangesAreIgnoredAndLargeOnesGlide) {
    struct Case {
        double target;
        bool animates;
        int durationMs;
        double endLevel;
    };
    const Case cases[] = {
        {54, false, 0, 50},    // under 5 % of the range
        {55, true, 15, 55},    // exactly 5 %, rising: 0.05 x 0.3 s
        {45, true, 150, 45},   // falling: 0.05 x 3 s
        {100, true, 150, 100}, // half the range up
        {1e9, true, 150, 100}, // off the scale: the top
        {kInf, true, 150, 100}, {-kInf, true, 1500, 0}, {std::nan(""), false, 0, 50},
    };
    for (const Case& c : cases) {
        gauge.setValue(50);
        gauge.startAnimationOnMainThread(c.target);
        QPropertyAnimation* animation = gauge.levelAnimation();
        ASSERT_EQ(animation->state() == QAbstractAnimation::Running, c.animates) << c.target;
        if (c.animates) {
            EXPECT_EQ(animation->duration(), c.durationMs) << c.target;
            EXPECT_EQ(gauge.fillLevel(), 50.0) << "the glide starts from the shown level";
            finishAnimation();
        }
        EXPECT_DOUBLE_EQ(gauge.fillLevel(), c.endLevel) << c.target;
    }
}

TEST_F(GaugeTest, SegmentsFillUpToTheLevelButNeverTheTop) {
    struct Case {
        double fraction, height;
        std::size_t count;
        double top;
    };
    const Case cases[] = {
        {1.0, 100, 31, 93}, {0.5, 100, 16, 48}, {0.03, 100, 0, 0},
        {0.0, 100, 0, 0},   {1.0, 8, 0, 0},     {1.0, 9, 1, 3},
    };
    for (const Case& c : cases) {
        const auto bottoms = ZOGaugeView::segmentBottoms(c.fraction, c.height);
        ASSERT_EQ(bottoms.size(), c.count) << c.fraction << " of " << c.height;
        if (c.count > 0) {
            EXPECT_EQ(bottoms.front(), 3.0);
            EXPECT_EQ(bottoms.back(), c.top);
        }
    }
}

// Column 8 lies inside every segment; y-up segment bottoms 3, 6, ... fill rows h - y - 2 and
// h - y - 1, and the row above each is a gap.
TEST_F(GaugeTest, RendersSegmentsUpToTheLevel) {
    const QRgb blue = KOColorAdditions::noBlueColor().rgb();
    struct Case {
        double level;
        double topSegment; // y-up bottom of the highest segment, 0 for none
    };
    const Case cases[] = {{100, 93}, {250, 93}, {50, 48}, {0, 0}, {-20, 0}};
    for (const Case& c : cases) {
        gauge.setValue(c.level);
        const QImage image = grab();
        for (int y = 3; y <= 96; y += 3) {
            const bool lit = c.topSegment > 0 && y <= c.topSegment;
            EXPECT_EQ(image.pixel(8, 100 - y - 1) == blue, lit) << c.level << " segment " << y;
            EXPECT_EQ(image.pixel(8, 100 - y - 2) == blue, lit) << c.level << " segment " << y;
            EXPECT_NE(image.pixel(8, 100 - y), blue) << c.level << " gap below " << y;
        }
    }
}

TEST_F(GaugeTest, LabelsReadTheBandCentresOfTheRange) {
    gauge.setMinValue(40.0f);
    gauge.setMaxValue(120.0f);
    gauge.setNumberLabels(4);
    EXPECT_TRUE(gauge.labels().empty()) << "labels are off until asked for";
    gauge.setShouldDrawLabels(true);
    const auto labels = gauge.labels();
    ASSERT_EQ(labels.size(), 4u);
    const char* texts[] = {"50", "70", "90", "110"};
    for (std::size_t i = 0; i < 4; ++i) {
        EXPECT_EQ(labels[i].second, QString::fromLatin1(texts[i]));
        EXPECT_DOUBLE_EQ(labels[i].first, (double(i) + 0.5) / 4.0 * 100.0);
    }
    gauge.setShouldDrawLabels(false);
    gauge.setLabelFormatString(QStringLiteral("%.1f dB"));
    EXPECT_TRUE(gauge.shouldDrawLabels());
    EXPECT_EQ(gauge.labels().front().second, QStringLiteral("50.0 dB"));
}

TEST_F(GaugeTest, RendersLabelsBesideTheColumn) {
    gauge.setMinValue(40.0f);
    gauge.setMaxValue(120.0f);
    gauge.setNumberLabels(4);
    const QImage before = grab();
    gauge.setShouldDrawLabels(true);
    const QImage after = grab();
    int changedRight = 0;
    for (int y = 0; y < 100; ++y) {
        for (int x = 0; x < 60; ++x) {
            if (before.pixel(x, y) != after.pixel(x, y)) {
                ASSERT_GE(x, 20) << "labels start right of the column";
                ++changedRight;
            }
        }
    }
    EXPECT_GT(changedRight, 20);
}

TEST_F(GaugeTest, BrokenBoundsAndLevelsLeaveAnEmptyOrClampedGauge) {
    gauge.setMinValue(std::nanf(""));
    gauge.setMaxValue(INFINITY);
    EXPECT_EQ(gauge.minValue(), 0.0f);
    EXPECT_EQ(gauge.maxValue(), 100.0f);

    gauge.setMinValue(50.0f);
    gauge.setMaxValue(50.0f);
    gauge.setShouldDrawLabels(true);
    gauge.startAnimationOnMainThread(80.0);
    EXPECT_NE(gauge.levelAnimation()->state(), QAbstractAnimation::Running);
    EXPECT_TRUE(gauge.labels().empty());
    const QRgb blue = KOColorAdditions::noBlueColor().rgb();
    const QImage image = grab();
    for (int y = 4; y < 96; ++y) {
        ASSERT_NE(image.pixel(8, y), blue) << "no segment without a range, row " << y;
    }
    gauge.setMaxValue(100.0f);
    EXPECT_EQ(gauge.labels().size(), 2u) << "the gauge recovers once the range opens";
}

TEST_F(GaugeTest, LevelsFromAnotherThreadArriveOnTheMainThread) {
    gauge.setValue(0);
    std::thread feeder([this] { gauge.setFloatLevel(80.0f); });
    feeder.join();
    ASSERT_TRUE(koru::test::spinUntil(
        [this] { return gauge.levelAnimation()->state() == QAbstractAnimation::Running; }));
    EXPECT_EQ(gauge.levelAnimation()->endValue().toDouble(), 80.0);
    finishAnimation();
    EXPECT_EQ(gauge.fillLevel(), 80.0);
}

} // namespace
