#include "utility/ui/VEWhiteTextFieldCell.h"

VEWhiteTextFieldCell::VEWhiteTextFieldCell(QWidget* parent) : QLineEdit(parent) {
    setFrame(false);
    setAutoFillBackground(false);
    setAttribute(Qt::WA_TranslucentBackground);
    QPalette colours = palette();
    colours.setColor(QPalette::Base, Qt::transparent);
    colours.setColor(QPalette::Text, Qt::white);
    setPalette(colours);
}
