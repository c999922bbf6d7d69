#include "framework/ToolbarImages.h"

#include "framework/KOColorAdditions.h"
#include "utility/VEImage.h"

#include <QPainter>
#include <QPainterPath>

#include <cmath>
#include <numbers>

namespace koru::framework {

namespace {

// Drawn at twice the 16-point icon size for sharp high-density screens.
constexpr int kPixels = 32;

QImage blankTemplate() {
    QImage image(kPixels, kPixels, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    return image;
}

QImage pauseBars() {
    QImage image = blankTemplate();
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(Qt::black);
    painter.drawRoundedRect(QRectF(8, 6, 6, 20), 1.5, 1.5);
    painter.drawRoundedRect(QRectF(18, 6, 6, 20), 1.5, 1.5);
    return image;
}

QImage playTriangle() {
    QImage image = blankTemplate();
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    QPainterPath triangle;
    triangle.moveTo(9, 6);
    triangle.lineTo(25, 16);
    triangle.lineTo(9, 26);
    triangle.closeSubpath();
    painter.fillPath(triangle, Qt::black);
    return image;
}

QImage lock(bool locked) {
    QImage image = blankTemplate();
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(Qt::black, 3.0));
    painter.setBrush(Qt::NoBrush);
    // An open lock swings its shackle up and to the right.
    const QRectF shackle = locked ? QRectF(10, 4, 12, 16) : QRectF(17, 1, 12, 16);
    painter.drawArc(shackle, 0, 180 * 16);
    const double legBottom = locked ? 15 : 10;
    painter.drawLine(QPointF(shackle.left(), shackle.center().y()),
                     QPointF(shackle.left(), legBottom));
    painter.drawLine(QPointF(shackle.right(), shackle.center().y()), QPointF(shackle.right(), 15));
    painter.setPen(Qt::NoPen);
    painter.setBrush(Qt::black);
    painter.drawRoundedRect(QRectF(7, 14, 18, 14), 2, 2);
    return image;
}

QImage gear() {
    QImage image = blankTemplate();
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    const QPointF centre(16, 16);
    QPainterPath outline;
    constexpr int teeth = 8;
    for (int i = 0; i < teeth * 2; ++i) {
        const double angle = i * std::numbers::pi / teeth;
        const double radius = i % 2 == 0 ? 13.0 : 10.0;
        const QPointF point = centre + QPointF(std::cos(angle), std::sin(angle)) * radius;
        if (i == 0)
            outline.moveTo(point);
        else
            outline.lineTo(point);
    }
    outline.closeSubpath();
    outline.addEllipse(centre, 4.0, 4.0); // odd-even fill leaves the hub open
    painter.fillPath(outline, Qt::black);
    return image;
}

QIcon iconFrom(const QImage& image) {
    QImage scaled = image;
    scaled.setDevicePixelRatio(2.0);
    return QIcon(QPixmap::fromImage(scaled));
}

QIcon tinted(const QImage& image, const QColor& colour) {
    return iconFrom(VEImage::tintedImageWithColor(image, colour));
}

} // namespace

QImage ToolbarImages::imageNamed(const QString& name) {
    if (name == QLatin1String("pause_go") || name == QLatin1String("pause_goTemplate"))
        return pauseBars();
    if (name == QLatin1String("pause_pausedTemplate"))
        return playTriangle();
    return {};
}

QIcon ToolbarImages::actionImage() {
    static const QIcon image = tinted(gear(), QColor::fromRgbF(0.8f, 0.8f, 0.8f));
    return image;
}

QIcon ToolbarImages::pauseImage(bool paused) {
    static const QIcon pausedImage = tinted(imageNamed(QStringLiteral("pause_pausedTemplate")),
                                            QColor::fromRgbF(0.8f, 0.8f, 0.8f, 1.0f));
    static const QIcon goImage =
        tinted(imageNamed(QStringLiteral("pause_goTemplate")), KOColorAdditions::noBlueColor());
    return paused ? pausedImage : goImage;
}

QIcon ToolbarImages::lockImage(bool locked) {
    static const QIcon lockedImage = tinted(lock(true), QColor::fromRgbF(0.8f, 0.8f, 0.8f));
    static const QIcon unlockedImage = tinted(lock(false), QColor::fromRgbF(0.8f, 0.8f, 0.8f));
    return locked ? lockedImage : unlockedImage;
}

std::function<QIcon(bool)> ToolbarImages::transformer(const QString& name) {
    if (name == QLatin1String(kPauseImageTransformerName))
        return pauseImage;
    if (name == QLatin1String(kLockImageTransformerName))
        return lockImage;
    return {};
}

} // namespace koru::framework
