#pragma once

#include "framework/KOWindow.h"

#include <optional>

// The window of every instrument: a KOWindow that snaps, with a tolerance of 15 points, whenever
// it is moved or resized, and that the user moves by dragging its background (any press its
// content leaves unhandled).
class KOInstrumentWindow : public KOWindow {
    Q_OBJECT
public:
    static constexpr double kSnapTolerance = 15.0;

    explicit KOInstrumentWindow(QWidget* parent = nullptr);

protected:
    void moveEvent(QMoveEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    // Where the press grabbed the frame, relative to its top-left corner.
    std::optional<QPoint> mDragOffset;
};
