#include "KOInstrumentBackgroundView.h"

#include "KOColorAdditions.h"

#include <QPaintEvent>
#include <QPainter>

KOInstrumentBackgroundView::KOInstrumentBackgroundView(QWidget* parent)
    : KOInstrumentView(parent), mBackingColor(KOColorAdditions::darkKORUBackingColor()) {
    setAttribute(Qt::WA_OpaquePaintEvent);
    const QColor trace = KOColorAdditions::noBlueColor();
    mR = trace.redF();
    mG = trace.greenF();
    mB = trace.blueF();
    mA = trace.alphaF();
}

void KOInstrumentBackgroundView::setBackingColor(const QColor& colour) {
    {
        const std::lock_guard lock(objectLock());
        mBackingColor = colour;
    }
    setNeedsDisplay();
}

QColor KOInstrumentBackgroundView::backingColor() const {
    const std::lock_guard lock(objectLock());
    return mBackingColor;
}

void KOInstrumentBackgroundView::paintEvent(QPaintEvent* event) {
    QPainter painter(this);
    painter.fillRect(event->rect(), backingColor());
}
