#include "YUpGeometry.h"

#include <QFontMetricsF>
#include <QImage>
#include <QPainter>
#include <QTransform>

namespace koru::framework {

void YUpGeometry::flip(QPainter& painter, double height) {
    painter.translate(0.0, height);
    painter.scale(1.0, -1.0);
}

QRectF YUpGeometry::reflected(const QRectF& rect, double referenceHeight) {
    return {rect.x(), referenceHeight - (rect.y() + rect.height()), rect.width(), rect.height()};
}

QPointF YUpGeometry::reflected(const QPointF& point, double referenceHeight) {
    return {point.x(), referenceHeight - point.y()};
}

QPainterPath YUpGeometry::textPath(const QString& text, const QFont& font, QPointF bottomLeft) {
    QPainterPath glyphs;
    glyphs.addText(0.0, 0.0, font, text);
    const double descent = QFontMetricsF(font).descent();
    // Glyph outlines come y-down around the baseline; mirror them about it.
    return QTransform(1.0, 0.0, 0.0, -1.0, bottomLeft.x(), bottomLeft.y() + descent).map(glyphs);
}

void YUpGeometry::fillText(QPainter& flipped, const QString& text, const QFont& font,
                           QPointF bottomLeft, const QBrush& fill, const QPen& outline) {
    const QPainterPath glyphs = textPath(text, font, bottomLeft);
    flipped.save();
    flipped.setRenderHint(QPainter::Antialiasing, true);
    flipped.fillPath(glyphs, fill);
    if (outline.style() != Qt::NoPen) {
        flipped.strokePath(glyphs, outline);
    }
    flipped.restore();
}

double YUpGeometry::textAdvance(const QString& text, const QFont& font) {
    return QFontMetricsF(font).horizontalAdvance(text);
}

void YUpGeometry::drawImage(QPainter& flipped, QPointF bottomLeft, const QImage& image) {
    const double height = image.height() / image.devicePixelRatio();
    flipped.save();
    flipped.translate(bottomLeft.x(), bottomLeft.y() + height);
    flipped.scale(1.0, -1.0);
    flipped.drawImage(QPointF(0.0, 0.0), image);
    flipped.restore();
}

} // namespace koru::framework
