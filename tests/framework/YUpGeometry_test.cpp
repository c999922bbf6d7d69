#include "framework/YUpGeometry.h"

#include <QImage>
#include <QPainter>

#include <gtest/gtest.h>

using koru::framework::YUpGeometry;

namespace {

bool anyInk(const QImage& image) {
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            if (qAlpha(image.pixel(x, y)) != 0) {
                return true;
            }
        }
    }
    return false;
}

// Layers draw aliased; a minus sign is a bar thinner than a pixel at small sizes, and where it
// fell between two pixel rows "-6" used to read as "6".
TEST(YUpGeometry, MinusSignShowsAtEverySubpixelBaseline) {
    for (const double pointSize : {8.0, 9.0, 10.0, 11.0}) {
        QFont font;
        font.setPointSizeF(pointSize);
        for (int eighth = 0; eighth < 8; ++eighth) {
            QImage image(20, 30, QImage::Format_ARGB32_Premultiplied);
            image.fill(Qt::transparent);
            QPainter painter(&image);
            painter.setRenderHint(QPainter::Antialiasing, false);
            YUpGeometry::flip(painter, image.height());
            YUpGeometry::fillText(painter, QStringLiteral("-"), font,
                                  QPointF(4.0, 8.0 + eighth / 8.0), QColor(Qt::white));
            painter.end();
            EXPECT_TRUE(anyInk(image)) << "size " << pointSize << ", baseline +" << eighth << "/8";
        }
    }
}

} // namespace
