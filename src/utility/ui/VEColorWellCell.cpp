#include "utility/ui/VEColorWellCell.h"

#include "utility/ValueBinding.h"

#include <QColorDialog>
#include <QMouseEvent>
#include <QPainter>
#include <QPointer>

namespace {

QPointer<VEColorWellCell>& currentWell() {
    static QPointer<VEColorWellCell> well;
    return well;
}

} // namespace

VEColorWellCell::VEColorWellCell(QWidget* parent) : QWidget(parent) {}

void VEColorWellCell::setColor(const QColor& colour) {
    if (colour == mColor)
        return;
    mColor = colour;
    update();
    emit colorChanged(colour);
}

void VEColorWellCell::setObjectValue(const QVariant& value) {
    setColor(value.typeId() == QMetaType::QColor ? value.value<QColor>() : QColor());
}

QVariant VEColorWellCell::objectValue() const {
    return mColor.isValid() ? QVariant(mColor) : QVariant();
}

QColorDialog& VEColorWellCell::sharedColorPanel() {
    // One panel for every well, alive as long as the process.
    static QColorDialog* panel = [] {
        auto* dialog = new QColorDialog;
        dialog->setOption(QColorDialog::ShowAlphaChannel);
        dialog->setOption(QColorDialog::NoButtons);
        QObject::connect(dialog, &QColorDialog::currentColorChanged, dialog,
                         [](const QColor& colour) {
                             if (VEColorWellCell* well = currentWell())
                                 well->takeColourFromPanel(colour);
                         });
        return dialog;
    }();
    return *panel;
}

VEColorWellCell* VEColorWellCell::activeWell() {
    return currentWell();
}

void VEColorWellCell::takeColourFromPanel(const QColor& colour) {
    if (colour == mColor)
        return;
    setColor(colour);
    koru::utility::ValueBinding::propagateValue(*this, QStringLiteral("color"), colour,
                                                "VEColorWellCell::takeColourFromPanel");
}

void VEColorWellCell::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setPen(QPen(palette().color(QPalette::WindowText), 1.0));
    painter.setBrush(Qt::NoBrush);
    painter.drawRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5));
    if (mColor.isValid())
        painter.fillRect(rect().adjusted(kInset, kInset, -kInset, -kInset), mColor);
}

void VEColorWellCell::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) {
        QWidget::mousePressEvent(event);
        return;
    }
    // Handing the panel over first, so showing this well's colour changes nothing elsewhere.
    currentWell() = this;
    QColorDialog& panel = sharedColorPanel();
    if (mColor.isValid())
        panel.setCurrentColor(mColor);
    panel.show();
    panel.raise();
    panel.activateWindow();
    event->accept();
}
