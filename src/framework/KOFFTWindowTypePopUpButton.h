#pragma once

#include <QComboBox>

// A pop-up of the FFT window types, item data = the value.
class KOFFTWindowTypePopUpButton : public QComboBox {
public:
    explicit KOFFTWindowTypePopUpButton(QWidget* parent = nullptr);
};
