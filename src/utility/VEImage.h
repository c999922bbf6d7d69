#pragma once

#include <QColor>
#include <QImage>

class VEImage {
public:
    // A copy of the image painted with the colour wherever the image is opaque (source-atop),
    // so a black glyph becomes a coloured one; the image itself is unchanged.
    static QImage tintedImageWithColor(const QImage& image, const QColor& color);
};
