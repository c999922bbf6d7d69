#include "utility/VEBoolImageTransformer.h"

#include <QPainter>

namespace {

// Our own artwork: a shaded dot with a darker rim.
QImage dot(const QColor& colour) {
    QImage image(VEBoolImageTransformer::kSide, VEBoolImageTransformer::kSide,
                 QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing, true);
    painter.setPen(QPen(colour.darker(150), 1.0));
    painter.setBrush(colour);
    const double side = VEBoolImageTransformer::kSide;
    painter.drawEllipse(QRectF(2.5, 2.5, side - 5.0, side - 5.0));
    return image;
}

} // namespace

QImage VEBoolImageTransformer::statusAvailableImage() {
    static const QImage image = dot(QColor::fromRgbF(0.25f, 0.8f, 0.3f));
    return image;
}

QImage VEBoolImageTransformer::statusUnavailableImage() {
    static const QImage image = dot(QColor::fromRgbF(0.9f, 0.2f, 0.2f));
    return image;
}

QVariant VEBoolImageTransformer::transformedValue(const QVariant& flag) const {
    return flag.toBool() ? statusAvailableImage() : statusUnavailableImage();
}
