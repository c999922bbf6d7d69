#include "framework/KOInstrumentWindow.h"

#include <QMouseEvent>

KOInstrumentWindow::KOInstrumentWindow(QWidget* parent) : KOWindow(parent) {
    setSnapsToEdges(true);
    setSnapTolerance(kSnapTolerance);
    setPadding(0.0);
}

// A window that is not shown has not been moved by anyone; restoring a session's frames must
// neither snap nor break links.
void KOInstrumentWindow::moveEvent(QMoveEvent* event) {
    KOWindow::moveEvent(event);
    if (isVisible())
        windowMoved();
}

void KOInstrumentWindow::resizeEvent(QResizeEvent* event) {
    KOWindow::resizeEvent(event);
    if (isVisible())
        windowResized();
}

void KOInstrumentWindow::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) {
        KOWindow::mousePressEvent(event);
        return;
    }
    mDragOffset = event->globalPosition().toPoint() - frameGeometry().topLeft();
    event->accept();
}

void KOInstrumentWindow::mouseMoveEvent(QMouseEvent* event) {
    if (!mDragOffset || !event->buttons().testFlag(Qt::LeftButton)) {
        KOWindow::mouseMoveEvent(event);
        return;
    }
    move(event->globalPosition().toPoint() - *mDragOffset);
    event->accept();
}

void KOInstrumentWindow::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton)
        mDragOffset.reset();
    KOWindow::mouseReleaseEvent(event);
}
