#include "KOFullscreenWindow.h"

#include <QPaintEvent>
#include <QPainter>
#include <QScreen>
#include <QVBoxLayout>

KOFullscreenWindow::KOFullscreenWindow(QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::FramelessWindowHint | Qt::WindowTransparentForInput |
                          Qt::WindowDoesNotAcceptFocus | Qt::WindowStaysOnBottomHint) {
    setAttribute(Qt::WA_ShowWithoutActivating);
    setAttribute(Qt::WA_DeleteOnClose, false);
    setFocusPolicy(Qt::NoFocus);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(new KOFullScreenWindowBack(this));
    setGeometry(0, 0, 10, 10);
}

void KOFullscreenWindow::coverScreen(const QScreen* screen) {
    if (screen != nullptr) {
        setGeometry(screen->geometry());
    }
}

KOFullScreenWindowBack::KOFullScreenWindowBack(QWidget* parent) : QWidget(parent) {
    setAttribute(Qt::WA_OpaquePaintEvent);
    setAttribute(Qt::WA_TransparentForMouseEvents);
}

void KOFullScreenWindowBack::paintEvent(QPaintEvent* event) {
    QPainter painter(this);
    painter.fillRect(event->rect(), backColour());
}
