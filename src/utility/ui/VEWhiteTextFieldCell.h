#pragma once

#include <QLineEdit>

// A text field for dark panels: white text and no background of its own, shown or edited.
class VEWhiteTextFieldCell : public QLineEdit {
    Q_OBJECT
public:
    explicit VEWhiteTextFieldCell(QWidget* parent = nullptr);
    bool drawsBackground() const { return false; }
};
