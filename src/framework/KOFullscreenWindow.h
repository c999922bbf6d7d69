#pragma once

#include <QWidget>

// The dark backdrop behind the instrument windows in full-screen mode. It stays below the
// program's other windows (WindowStaysOnBottomHint) rather than raising every other window a
// level; clicks pass through it and it never takes the focus. Closing only hides it.
class KOFullscreenWindow : public QWidget {
    Q_OBJECT
public:
    explicit KOFullscreenWindow(QWidget* parent = nullptr);
    // Sizes the backdrop to cover a screen.
    void coverScreen(const QScreen* screen);
};

// The backdrop's content: one colour, 0.12 grey.
class KOFullScreenWindowBack : public QWidget {
    Q_OBJECT
public:
    explicit KOFullScreenWindowBack(QWidget* parent = nullptr);
    static QColor backColour() { return QColor::fromRgbF(0.12f, 0.12f, 0.12f, 1.0f); }

protected:
    void paintEvent(QPaintEvent* event) override;
};
