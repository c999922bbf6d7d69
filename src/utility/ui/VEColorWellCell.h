#pragma once

#include <QColor>
#include <QVariant>
#include <QWidget>

class QColorDialog;

// A small colour well: a one-point frame with the colour's swatch inset by four points. A click
// opens the shared colour dialog for this well; the dialog's changes go to the well clicked last
// only, and from there through its "color" binding (ValueBinding) to the model.
class VEColorWellCell : public QWidget {
    Q_OBJECT
    Q_PROPERTY(QColor color READ color WRITE setColor NOTIFY colorChanged)
public:
    static constexpr int kInset = 4;

    explicit VEColorWellCell(QWidget* parent = nullptr);

    QColor color() const { return mColor; }
    void setColor(const QColor& colour);
    // A colour sets it; anything else leaves the well without a colour.
    void setObjectValue(const QVariant& value);
    QVariant objectValue() const;

    static QColorDialog& sharedColorPanel();
    // The well the shared dialog works for, or null.
    static VEColorWellCell* activeWell();

    QSize sizeHint() const override { return {44, 23}; }

signals:
    void colorChanged(const QColor& colour);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;

private:
    void takeColourFromPanel(const QColor& colour);

    QColor mColor;
};
