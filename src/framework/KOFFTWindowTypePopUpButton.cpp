#include "framework/KOFFTWindowTypePopUpButton.h"

#include "framework/KOPopUpButtonAdditions.h"

KOFFTWindowTypePopUpButton::KOFFTWindowTypePopUpButton(QWidget* parent) : QComboBox(parent) {
    KOPopUpButtonAdditions::becomeFFTWindowTypeMenu(*this);
}
