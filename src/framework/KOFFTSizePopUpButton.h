#pragma once

#include <QComboBox>

// A pop-up of the FFT sizes, item data = the value.
class KOFFTSizePopUpButton : public QComboBox {
public:
    explicit KOFFTSizePopUpButton(QWidget* parent = nullptr);
};
