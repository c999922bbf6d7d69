#include "UtilityTestSupport.h"

#include "utility/VEImage.h"

#include <QPainter>

namespace {

TEST(VEImage, TintPaintsOnlyTheOpaqueParts) {
    QImage glyph(8, 8, QImage::Format_ARGB32);
    glyph.fill(Qt::transparent);
    QPainter(&glyph).fillRect(2, 2, 4, 4, Qt::black);
    glyph.setPixelColor(0, 7, QColor(0, 0, 0, 128));

    const QImage tinted = VEImage::tintedImageWithColor(glyph, QColor(255, 0, 0));
    ASSERT_EQ(tinted.size(), glyph.size());
    EXPECT_EQ(tinted.pixelColor(3, 3), QColor(255, 0, 0));
    EXPECT_EQ(tinted.pixelColor(0, 0).alpha(), 0);
    const QColor half = tinted.pixelColor(0, 7);
    EXPECT_NEAR(half.alpha(), 128, 1);
    EXPECT_NEAR(half.red(), 255, 2);
    EXPECT_EQ(half.green(), 0);
    EXPECT_EQ(glyph.pixelColor(3, 3), QColor(Qt::black)) << "the original stays as it was";
}

} // namespace
