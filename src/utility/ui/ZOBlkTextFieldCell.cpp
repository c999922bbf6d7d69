#include "utility/ui/ZOBlkTextFieldCell.h"

ZOBlkTextFieldCell::ZOBlkTextFieldCell(QWidget* parent) : QLineEdit(parent) {}

void ZOBlkTextFieldCell::focusInEvent(QFocusEvent* event) {
    mShownPalette = palette();
    QPalette editing = mShownPalette;
    editing.setColor(QPalette::Base, editingBackground());
    setPalette(editing);
    QLineEdit::focusInEvent(event);
}

void ZOBlkTextFieldCell::focusOutEvent(QFocusEvent* event) {
    setPalette(mShownPalette);
    QLineEdit::focusOutEvent(event);
}
