#include "ZOWindowAdditions.h"

#include "YUpGeometry.h"

#include <QGuiApplication>
#include <QScreen>
#include <QWidget>

#include <algorithm>
#include <cmath>

using koru::framework::YUpGeometry;

QPointF ZOWindowAdditions::originForBottomRightCorner(const QRectF& frame, QPointF p) {
    return {p.x() - frame.width(), p.y()};
}

QPointF ZOWindowAdditions::originForTopLeftCorner(const QRectF& frame, QPointF p) {
    return {p.x(), p.y() - frame.height()};
}

QPointF ZOWindowAdditions::originForTopRightCorner(const QRectF& frame, QPointF p) {
    return {p.x() - frame.width(), p.y() - frame.height()};
}

double ZOWindowAdditions::screenReference() {
    const QScreen* screen = QGuiApplication::primaryScreen();
    if (screen == nullptr) {
        return 0.0;
    }
    const QRect geometry = screen->geometry();
    return double(geometry.y() + geometry.height());
}

QRectF ZOWindowAdditions::yUpRect(const QRectF& yDownRect) {
    return YUpGeometry::reflected(yDownRect, screenReference());
}

QRectF ZOWindowAdditions::yDownRect(const QRectF& yUpRect) {
    // The reflection is its own inverse.
    return YUpGeometry::reflected(yUpRect, screenReference());
}

QRectF ZOWindowAdditions::yUpFrame(const QWidget& window) {
    return yUpRect(QRectF(window.frameGeometry()));
}

void ZOWindowAdditions::setYUpOrigin(QWidget& window, QPointF origin) {
    const QRectF frame(origin, QSizeF(window.frameGeometry().size()));
    const QPointF topLeft = YUpGeometry::reflected(frame, screenReference()).topLeft();
    window.move(int(std::lround(topLeft.x())), int(std::lround(topLeft.y())));
}

QPointF ZOWindowAdditions::bottomLeftCorner(const QWidget& window) {
    return bottomLeftCorner(yUpFrame(window));
}

QPointF ZOWindowAdditions::bottomRightCorner(const QWidget& window) {
    return bottomRightCorner(yUpFrame(window));
}

QPointF ZOWindowAdditions::topLeftCorner(const QWidget& window) {
    return topLeftCorner(yUpFrame(window));
}

QPointF ZOWindowAdditions::topRightCorner(const QWidget& window) {
    return topRightCorner(yUpFrame(window));
}

void ZOWindowAdditions::setBottomLeftCorner(QWidget& window, QPointF p) {
    setYUpOrigin(window, originForBottomLeftCorner(yUpFrame(window), p));
}

void ZOWindowAdditions::setBottomRightCorner(QWidget& window, QPointF p) {
    setYUpOrigin(window, originForBottomRightCorner(yUpFrame(window), p));
}

void ZOWindowAdditions::setTopLeftCorner(QWidget& window, QPointF p) {
    setYUpOrigin(window, originForTopLeftCorner(yUpFrame(window), p));
}

void ZOWindowAdditions::setTopRightCorner(QWidget& window, QPointF p) {
    setYUpOrigin(window, originForTopRightCorner(yUpFrame(window), p));
}

void ZOWindowAdditions::adjustWidth(QWidget& window, double dw) {
    const QRect geometry = window.geometry();
    const int width = std::clamp(int(std::lround(geometry.width() + dw)), window.minimumWidth(),
                                 window.maximumWidth());
    window.setGeometry(geometry.x(), geometry.y(), width, geometry.height());
    window.update();
}

void ZOWindowAdditions::adjustHeight(QWidget& window, double dh) {
    const QRect geometry = window.geometry();
    const int height = std::clamp(int(std::lround(geometry.height() + dh)), window.minimumHeight(),
                                  window.maximumHeight());
    // Qt keeps the top edge; the bottom edge is the one that must stay.
    window.setGeometry(geometry.x(), geometry.y() + geometry.height() - height, geometry.width(),
                       height);
    window.update();
}
