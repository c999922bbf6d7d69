#include "framework/KOFFTBackingLayer.h"
#include "framework/ZOLogViewMath.h"
#include "platform/defaults/UserDefaults.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace {

int paintedIn(const QImage& image, QRect area) {
    int count = 0;
    area &= image.rect();
    for (int y = area.top(); y <= area.bottom(); ++y) {
        for (int x = area.left(); x <= area.right(); ++x) {
            count += qAlpha(image.pixel(x, y)) > 0;
        }
    }
    return count;
}

// Rows (y-down) across which a horizontal line runs: more than a sixth of the row painted
// (the dash is one on, three off).
std::vector<int> lineRows(const QImage& image) {
    std::vector<int> rows;
    for (int y = 0; y < image.height(); ++y) {
        if (paintedIn(image, QRect(0, y, image.width(), 1)) > image.width() / 6) {
            rows.push_back(y);
        }
    }
    return rows;
}

class GridTest : public testing::Test {
protected:
    QImage grid(double width, double height, double lower, double upper,
                std::optional<bool> details = false) {
        KOFFTBackingLayer layer(math, width, height, lower, upper, 1.0, details);
        margin = layer.margin();
        plotRect = layer.plotRect();
        return layer.image().copy();
    }
    ZOLogViewMath math{3, 50.0, 20000.0, 24000.0};
    double margin = -1.0;
    QRectF plotRect;
};

TEST_F(GridTest, FrequencyLinesStandOnTheirColumns) {
    const QImage image = grid(1200, 600, -120.0, 0.0);
    const int row = 300; // clear of the decibel lines (299 and 324)
    for (double hertz : {100.0, 1000.0, 125.0, 6300.0}) {
        const int column = int(std::ceil(math.frequencyToPosition(hertz) * 1200));
        // dashed lines paint one row in four
        EXPECT_GT(paintedIn(image, QRect(column, row, 1, 4)), 0) << hertz;
        EXPECT_EQ(paintedIn(image, QRect(column - 3, row, 2, 4)), 0) << hertz;
        EXPECT_EQ(paintedIn(image, QRect(column + 2, row, 2, 4)), 0) << hertz;
    }
    // octave lines are solid down to the bottom; third-octave lines dashed, above the labels
    const int octave = int(std::ceil(math.frequencyToPosition(1000.0) * 1200));
    const int third = int(std::ceil(math.frequencyToPosition(1250.0) * 1200));
    EXPECT_EQ(paintedIn(image, QRect(octave, 20, 1, 500)), 500);
    EXPECT_LT(paintedIn(image, QRect(third, 20, 1, 500)), 300);
    EXPECT_EQ(paintedIn(image, QRect(third, 600 - 12, 1, 10)), 0);
    EXPECT_EQ(margin, 35.0);
    EXPECT_EQ(plotRect, QRectF(35, 14, 1200, 600));
}

TEST_F(GridTest, DecibelLinesEveryStepFromTheFloorOfTheLowerBound) {
    // 600 px allow 24 lines: 5 dB steps from -120
    const QImage image = grid(1200, 600, -120.0, 0.0);
    std::vector<int> expected;
    for (double level = -120.0; level < 0.0; level += 5.0) {
        expected.push_back(599 - int(std::round(level * 5.0 + 600.0)));
    }
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(lineRows(image), expected);
    // the labels sit right-aligned in the margin column
    EXPECT_GT(paintedIn(image, QRect(0, 0, 35, 600)), 0);
    // and fit it, "-120dB" included, up to an antialiased edge: the font is sized in pixels,
    // not in 96-dpi points, or the left edge cuts through the sign and the "1" and the label
    // reads "20dB". Only the dashed lines themselves start in the first column.
    const std::vector<int> lines = lineRows(image);
    for (int y = 0; y < 600; ++y) {
        if (std::find(lines.begin(), lines.end(), y) == lines.end()) {
            ASSERT_LT(qAlpha(image.pixel(0, y)), 64) << "label cut at the left edge, row " << y;
        }
    }
}

TEST_F(GridTest, ShortPlotDrawsOnlyTheFirstLine) {
    // under 25 px there is no room for a step: one line, at floor(-96.5) = -97 dB
    const QImage image = grid(1200, 20, -96.5, 0.0);
    const double scale = 20.0 / 96.5;
    const int row = 19 - int(std::round(-97.0 * scale + 20.0));
    EXPECT_EQ(lineRows(image), std::vector<int>{row});
}

TEST_F(GridTest, EqualOrBrokenDecibelBoundsDrawNoDecibelLines) {
    const QImage equal = grid(1200, 600, -60.0, -60.0);
    EXPECT_EQ(margin, 0.0);
    EXPECT_EQ(plotRect, QRectF(0, 14, 1200, 600));
    EXPECT_TRUE(lineRows(equal).empty());
    const double nan = std::numeric_limits<double>::quiet_NaN();
    for (auto [lower, upper] : {std::pair{0.0, -60.0},
                                {nan, 0.0},
                                {-60.0, nan},
                                {-std::numeric_limits<double>::infinity(), 0.0}}) {
        EXPECT_TRUE(lineRows(grid(1200, 600, lower, upper)).empty()) << lower << " " << upper;
    }
}

TEST_F(GridTest, ThirdOctaveLabelsOnlyOnWidePlotsWhenAllowed) {
    auto labelInk = [&](double width, std::optional<bool> details) {
        return paintedIn(grid(width, 300, -60.0, 0.0, details), QRect(0, 300 - 14, 900, 14));
    };
    EXPECT_GT(labelInk(821, true), labelInk(821, false));
    EXPECT_EQ(labelInk(820, true), labelInk(820, false));

    auto& defaults = koru::platform::UserDefaults::standardUserDefaults();
    defaults.setBool(KOFFTBackingLayer::kAllowThirdOctaveDetailsKey, true);
    EXPECT_EQ(labelInk(821, std::nullopt), labelInk(821, true));
    defaults.setBool(KOFFTBackingLayer::kAllowThirdOctaveDetailsKey, false);
    EXPECT_EQ(labelInk(821, std::nullopt), labelInk(821, false));
}

} // namespace
