#include "framework/AntialiasedPolyline.h"

#include <QImage>

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

namespace {

using koru::framework::fillAntialiasedAreaUnderPolyline;
using koru::framework::strokeAntialiasedPolyline;

QImage blank() {
    QImage image(20, 20, QImage::Format_ARGB32_Premultiplied);
    image.fill(0);
    return image;
}

int alpha(const QImage& image, int x, int y) {
    return qAlpha(image.pixel(x, y));
}

TEST(AntialiasedPolyline, LineThroughPixelCentresFillsOneRow) {
    QImage image = blank();
    strokeAntialiasedPolyline(image, {{0.5, 10.5}, {19.5, 10.5}}, QTransform(), Qt::white);
    for (int x = 0; x < 20; ++x) {
        EXPECT_EQ(alpha(image, x, 10), 255) << x;
        EXPECT_EQ(alpha(image, x, 9), 0) << x;
        EXPECT_EQ(alpha(image, x, 11), 0) << x;
    }
}

TEST(AntialiasedPolyline, LineBetweenRowsSharesItsCoverage) {
    QImage image = blank();
    strokeAntialiasedPolyline(image, {{10.0, 0.5}, {10.0, 19.5}}, QTransform(), Qt::white);
    for (int y = 0; y < 19; ++y) {
        EXPECT_NEAR(alpha(image, 9, y), 128, 1) << y;
        EXPECT_NEAR(alpha(image, 10, y), 128, 1) << y;
    }
}

TEST(AntialiasedPolyline, EveryColumnOfASlopeCarriesOnePixelOfInk) {
    QImage image = blank();
    // through a transform, as the layers hand over y-up points
    const QTransform flip(1, 0, 0, -1, 0, 20);
    strokeAntialiasedPolyline(image, {{0.0, 2.0}, {8.0, 7.0}, {19.0, 15.0}}, flip, Qt::white);
    for (int x = 1; x < 18; ++x) {
        int sum = 0;
        for (int y = 0; y < 20; ++y) {
            sum += alpha(image, x, y);
        }
        EXPECT_NEAR(sum, 255, 3) << x;
    }
    EXPECT_GT(alpha(image, 8, 20 - 7 - 1) + alpha(image, 8, 20 - 7), 200); // the joint, y-up
}

// A steep trace (a level history rising fast) is walked along its rows: every row between its
// ends carries one pixel of ink, joints included, so the line shows no gaps.
TEST(AntialiasedPolyline, EveryRowOfASteepRiseCarriesOnePixelOfInk) {
    const QTransform flip(1, 0, 0, -1, 0, 20);
    const std::vector<std::vector<QPointF>> traces = {
        {{2.0, 1.0}, {3.0, 6.0}, {4.0, 11.0}, {5.0, 16.0}, {6.0, 19.0}},
        {{2.3, 1.2}, {3.1, 6.7}, {4.6, 11.5}, {5.2, 16.1}, {6.0, 19.0}},
        {{6.0, 19.0}, {5.2, 16.1}, {4.6, 11.5}, {3.1, 6.7}, {2.3, 1.2}},
        {{8.0, 1.0}, {7.5, 6.0}, {7.0, 11.0}, {6.5, 16.0}, {6.0, 19.0}},
        {{8.0, 19.0}, {7.5, 16.0}, {7.0, 11.0}, {6.5, 6.0}, {6.0, 1.0}},
        // steep and shallow segments in turn, on whole pixels, as the history hands them over
        {{10.0, 1.0},
         {9.0, 3.0},
         {8.0, 4.0},
         {7.0, 6.0},
         {6.0, 7.0},
         {5.0, 9.0},
         {4.0, 10.0},
         {3.0, 12.0},
         {2.0, 13.0},
         {1.0, 15.0},
         {0.0, 19.0}},
        {{0.0, 1.0},
         {1.0, 3.0},
         {2.0, 4.0},
         {3.0, 6.0},
         {4.0, 7.0},
         {5.0, 9.0},
         {6.0, 10.0},
         {7.0, 12.0},
         {8.0, 13.0},
         {9.0, 15.0},
         {10.0, 19.0}},
    };
    for (const std::vector<QPointF>& trace : traces) {
        QImage image = blank();
        strokeAntialiasedPolyline(image, trace, flip, Qt::white);
        for (int y = 2; y < 18; ++y) {
            int sum = 0;
            for (int x = 0; x < 20; ++x) {
                sum += alpha(image, x, y);
            }
            EXPECT_NEAR(sum, 255, 40) << "row " << y << " of trace from " << trace.front().x();
        }
    }
}

TEST(AntialiasedPolyline, BlendsSourceOverWhatIsThere) {
    QImage image = blank();
    image.fill(QColor(0, 0, 255));
    strokeAntialiasedPolyline(image, {{0.5, 5.5}, {19.5, 5.5}}, QTransform(),
                              QColor(255, 0, 0, 128));
    const QColor mixed = image.pixelColor(5, 5);
    EXPECT_NEAR(mixed.red(), 128, 2);
    EXPECT_NEAR(mixed.blue(), 127, 2);
    EXPECT_EQ(mixed.alpha(), 255);
    // points off the image are clipped, not written
    strokeAntialiasedPolyline(image, {{-50.0, -50.0}, {100.0, -10.0}}, QTransform(), Qt::red);
    EXPECT_EQ(image.pixelColor(0, 0), QColor(0, 0, 255));
}

TEST(AntialiasedPolyline, EndsOffTheImageOrBrokenEndTheWalkQuickly) {
    QImage image = blank();
    const double nan = std::numeric_limits<double>::quiet_NaN();
    // A walk over every unit of these would not end in any test's lifetime.
    strokeAntialiasedPolyline(image,
                              {{0.5, 10.5}, {1e15, 10.5}, {1e15, -1e15}, {nan, 3.0}, {19.5, 3.5}},
                              QTransform(), Qt::white);
    EXPECT_EQ(alpha(image, 10, 10), 255) << "the part on the image is drawn";
    EXPECT_EQ(alpha(image, 10, 3), 0) << "segments to a non-finite point are left out";
}

// y-up, as the level plots draw: the baseline at the bottom edge of a 20 x 20 image.
TEST(AntialiasedArea, FillsUnderTheTraceWithPartialTopRows) {
    const QTransform flip(1.0, 0.0, 0.0, -1.0, 0.0, 20.0);
    struct Case {
        const char* name;
        std::vector<QPointF> points;
        int column;
        double height; // covered from the bottom
    };
    const Case cases[] = {
        {"flat", {{0, 10.5}, {20, 10.5}}, 7, 10.5},
        {"right to left, closed at both ends", {{20, 0}, {20, 4.25}, {0, 4.25}, {0, 0}}, 12, 4.25},
        {"slope: the column's mean height", {{0, 0}, {20, 20}}, 5, 5.5},
        {"above the image", {{0, 30}, {20, 30}}, 3, 20},
        {"off the columns", {{-40, 8}, {-20, 8}}, 3, 0},
    };
    for (const Case& c : cases) {
        QImage image = blank();
        fillAntialiasedAreaUnderPolyline(image, c.points, flip, 0.0, Qt::white);
        for (int row = 0; row < 20; ++row) {
            const double covered = std::clamp(c.height - (19 - row), 0.0, 1.0);
            EXPECT_NEAR(alpha(image, c.column, row), 255.0 * covered, 2.0)
                << c.name << " row " << row;
        }
    }
}

TEST(AntialiasedArea, BrokenPointsAreLeftOut) {
    QImage image = blank();
    const double inf = std::numeric_limits<double>::infinity();
    fillAntialiasedAreaUnderPolyline(image,
                                     {{0, 5}, {10, 5}, {10, inf}, {15, std::nan("")}, {20, 5}},
                                     QTransform(1.0, 0.0, 0.0, -1.0, 0.0, 20.0), 0.0, Qt::white);
    EXPECT_EQ(alpha(image, 5, 17), 255);
    EXPECT_EQ(alpha(image, 12, 17), 0);
    EXPECT_EQ(alpha(image, 5, 10), 0);
}

} // namespace
