#pragma once

#include <QComboBox>

// The trace draw modes: "Cont" 0, "Fill" 1, "Oct." 2, "Pk Bar" 3 (item data = mode).
class KODrawModePopupButton : public QComboBox {
public:
    explicit KODrawModePopupButton(QWidget* parent = nullptr);

    // Rebuilds the four items.
    void awakeFromNib();
    // Rebuilds the items and binds Alt+C, Alt+F, Alt+O and Alt+P to them.
    void createShortcuts();
};
