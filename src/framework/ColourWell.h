#pragma once

#include <QColor>
#include <QToolButton>

class QColorDialog;

namespace koru::framework {

// A colour swatch for the dark overlay panels. A click opens the one colour panel the program
// shares (non-modal); while it is attached to this well every pick is reported at once.
class ColourWell : public QToolButton {
    Q_OBJECT
public:
    explicit ColourWell(QWidget* parent = nullptr);
    QColor color() const { return mColour; }
    // Does not emit.
    void setColor(const QColor& colour);
    // The shared colour panel (created on first use, never destroyed).
    static QColorDialog& sharedColourPanel();

signals:
    void colorChanged(const QColor& colour);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void openPanel();
    void takeColour(const QColor& colour);

    QColor mColour = Qt::white;
};

} // namespace koru::framework
