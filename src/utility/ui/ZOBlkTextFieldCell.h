#pragma once

#include <QColor>
#include <QLineEdit>

// A text field whose background turns dark grey while it is being edited.
class ZOBlkTextFieldCell : public QLineEdit {
    Q_OBJECT
public:
    static QColor editingBackground() { return QColor::fromRgbF(1.0f / 3, 1.0f / 3, 1.0f / 3); }

    explicit ZOBlkTextFieldCell(QWidget* parent = nullptr);

protected:
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;

private:
    QPalette mShownPalette;
};
