#include "utility/VEImage.h"

#include <QPainter>

QImage VEImage::tintedImageWithColor(const QImage& image, const QColor& color) {
    QImage tinted = image.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    QPainter painter(&tinted);
    painter.setCompositionMode(QPainter::CompositionMode_SourceAtop);
    painter.fillRect(tinted.rect(), color);
    painter.end();
    return tinted;
}
