#pragma once

#include <QToolButton>

// A borderless 24 x 24 image button for the small controls on plots and panels: only the image
// shows, greyed while the button is held down.
class ZOIconButton : public QToolButton {
    Q_OBJECT
public:
    static constexpr int kSize = 24;

    explicit ZOIconButton(QWidget* parent = nullptr);
    // At `point` (its bottom-left corner, y-up in the parent) with `image` for both states.
    ZOIconButton(QPointF point, const QIcon& image, QWidget* parent);

protected:
    void paintEvent(QPaintEvent* event) override;
};
