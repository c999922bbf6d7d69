#include "KOGraphicLayer.h"

#include "YUpGeometry.h"

#include <QPainterPath>
#include <algorithm>

#include <cmath>
#include <cstring>

using koru::framework::YUpGeometry;

KOGraphicLayer::KOGraphicLayer(const QRectF& rect, double devicePixelRatio)
    : mFrame(0.0, 0.0, rect.width(), rect.height()) {
    const double ratio = devicePixelRatio > 0.0 ? devicePixelRatio : 1.0;
    const int pixelWidth = std::max(1, int(std::ceil(mFrame.width() * ratio)));
    const int pixelHeight = std::max(1, int(std::ceil(mFrame.height() * ratio)));
    mLayer = QImage(pixelWidth, pixelHeight, QImage::Format_ARGB32_Premultiplied);
    mLayer.setDevicePixelRatio(ratio);
    // Transparent is all zero bits; QImage::fill would hand a large image to the thread pool,
    // which costs more than the clear itself on a busy machine.
    std::memset(mLayer.bits(), 0, std::size_t(mLayer.sizeInBytes()));
    mContext = std::make_unique<QPainter>(&mLayer);
    mContext->setRenderHint(QPainter::Antialiasing, false);
    YUpGeometry::flip(*mContext, mFrame.height());
}

KOGraphicLayer::KOGraphicLayer(double width, double height, double devicePixelRatio)
    : KOGraphicLayer(QRectF(0.0, 0.0, width, height), devicePixelRatio) {}

KOGraphicLayer::~KOGraphicLayer() {
    releaseLayer();
}

const QImage& KOGraphicLayer::image() {
    if (mContext != nullptr && mContext->isActive()) {
        mContext->end();
    }
    return mLayer;
}

void KOGraphicLayer::drawAtPoint(QPainter& target, double x, double y) {
    YUpGeometry::drawImage(target, QPointF(x, y), image());
}

void KOGraphicLayer::strokePath(const QPainterPath& path, const QColor& colour) {
    if (mContext == nullptr || !mContext->isActive()) {
        return;
    }
    mContext->strokePath(path, QPen(colour, 1.0));
}

void KOGraphicLayer::fillPath(const QPainterPath& path, double red, double green, double blue,
                              double alpha) {
    if (mContext == nullptr || !mContext->isActive()) {
        return;
    }
    mContext->fillPath(path, QColor::fromRgbF(float(red), float(green), float(blue), float(alpha)));
}

void KOGraphicLayer::releaseLayer() {
    if (mContext != nullptr && mContext->isActive()) {
        mContext->end();
    }
    mContext.reset();
    mLayer = QImage();
}
