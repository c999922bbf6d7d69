#include "spl/KOStatusTransformer.h"

#include <QPainter>
#include <QRadialGradient>

namespace {

// A lit light: a bright centre fading to the colour, with a darker rim.
QImage led(const QColor& colour) {
    QImage image(KOStatusTransformer::kSide, KOStatusTransformer::kSide,
                 QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing, true);
    const double side = KOStatusTransformer::kSide;
    const QRectF body(2.5, 2.5, side - 5.0, side - 5.0);
    QRadialGradient shine(body.center() - QPointF(1.5, 1.5), body.width() / 2.0);
    shine.setColorAt(0.0, colour.lighter(170));
    shine.setColorAt(1.0, colour);
    painter.setPen(QPen(colour.darker(160), 1.0));
    painter.setBrush(shine);
    painter.drawEllipse(body);
    return image;
}

} // namespace

QImage KOStatusTransformer::imageForStatus(qint64 status) {
    static const QImage starting = led(QColor(235, 175, 20));
    static const QImage running = led(QColor(60, 200, 75));
    static const QImage stopped = led(QColor(220, 50, 50));
    static const QImage none = led(QColor(150, 150, 150));
    switch (status) {
    case -1:
        return starting;
    case 1:
        return running;
    case 0:
        return stopped;
    default:
        return none;
    }
}

QVariant KOStatusTransformer::transformedValue(const QVariant& status) const {
    bool ok = false;
    const qint64 value = status.toLongLong(&ok);
    return imageForStatus(ok ? value : 0);
}
