#include "ZOIconButton.h"

#include "YUpGeometry.h"

#include <QPainter>

using koru::framework::YUpGeometry;

ZOIconButton::ZOIconButton(QWidget* parent) : QToolButton(parent) {
    setAutoRaise(true);
    setFocusPolicy(Qt::NoFocus);
    setToolButtonStyle(Qt::ToolButtonIconOnly);
}

ZOIconButton::ZOIconButton(QPointF point, const QIcon& image, QWidget* parent)
    : ZOIconButton(parent) {
    setIcon(image);
    const double parentHeight = parent != nullptr ? parent->height() : double(kSize);
    const QRectF frame = YUpGeometry::reflected(QRectF(point, QSizeF(kSize, kSize)), parentHeight);
    setGeometry(frame.toRect());
}

void ZOIconButton::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    const QSize size = iconSize().boundedTo(this->size());
    const QRect target(QPoint((width() - size.width()) / 2, (height() - size.height()) / 2), size);
    icon().paint(&painter, target, Qt::AlignCenter, isDown() ? QIcon::Disabled : QIcon::Normal);
}
