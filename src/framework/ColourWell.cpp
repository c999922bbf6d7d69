#include "ColourWell.h"

#include <QColorDialog>
#include <QPainter>
#include <QPointer>

namespace koru::framework {

namespace {

// The well the shared panel reports to; a closed or deleted well drops out by itself.
QPointer<ColourWell>& attachedWell() {
    static QPointer<ColourWell> well;
    return well;
}

} // namespace

ColourWell::ColourWell(QWidget* parent) : QToolButton(parent) {
    setAutoRaise(true);
    setFocusPolicy(Qt::NoFocus);
    connect(this, &QToolButton::clicked, this, &ColourWell::openPanel);
}

QColorDialog& ColourWell::sharedColourPanel() {
    static auto* panel = [] {
        auto* dialog = new QColorDialog;
        dialog->setOption(QColorDialog::ShowAlphaChannel, true);
        dialog->setOption(QColorDialog::NoButtons, true);
        dialog->setModal(false);
        QObject::connect(dialog, &QColorDialog::currentColorChanged, [](const QColor& colour) {
            if (ColourWell* well = attachedWell()) {
                well->takeColour(colour);
            }
        });
        return dialog;
    }();
    return *panel;
}

void ColourWell::setColor(const QColor& colour) {
    mColour = colour;
    update();
}

void ColourWell::openPanel() {
    QColorDialog& panel = sharedColourPanel();
    attachedWell() = nullptr; // no echo of our own colour into the previous well
    panel.setCurrentColor(mColour);
    attachedWell() = this;
    panel.show();
    panel.raise();
}

void ColourWell::takeColour(const QColor& colour) {
    if (colour == mColour) {
        return;
    }
    setColor(colour);
    emit colorChanged(colour);
}

void ColourWell::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    const QRectF swatch = QRectF(rect()).adjusted(1.5, 1.5, -1.5, -1.5);
    painter.fillRect(swatch, mColour);
    painter.setPen(QPen(QColor::fromRgbF(1.0f, 1.0f, 1.0f, isDown() ? 0.9f : 0.5f), 1.0));
    painter.drawRect(swatch);
}

} // namespace koru::framework
