#include "framework/KOFFTSizePopUpButton.h"

#include "framework/KOPopUpButtonAdditions.h"

KOFFTSizePopUpButton::KOFFTSizePopUpButton(QWidget* parent) : QComboBox(parent) {
    KOPopUpButtonAdditions::becomeFFTSizeMenu(*this);
}
