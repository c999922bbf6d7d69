#include "KOInstrumentControlBackground.h"

#include <QPaintEvent>
#include <QPainter>
#include <QPainterPath>

KOInstrumentControlBackground::KOInstrumentControlBackground(QWidget* parent) : QWidget(parent) {
    setAttribute(Qt::WA_NoSystemBackground);
}

void KOInstrumentControlBackground::paintEvent(QPaintEvent* event) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing, true);
    QPainterPath panel;
    panel.addRoundedRect(QRectF(event->rect()), 8.0, 8.0);
    painter.fillPath(panel, QColor::fromRgbF(0.0f, 0.0f, 0.0f, 0.75f));
}
