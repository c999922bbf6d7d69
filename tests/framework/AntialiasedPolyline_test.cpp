#include "framework/AntialiasedPolyline.h"

#include <QImage>

#include <gtest/gtest.h>

namespace {

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

} // namespace
