#include "analysers/ui/KODelayFinderView.h"

#include "analysers/KODelayFinderData.h"
#include "analysers/ui/DoubleSlider.h"
#include "engine/SDFloatVector.h"
#include "framework/AntialiasedPolyline.h"
#include "platform/log/Log.h"

#include <QFont>
#include <QNativeGestureEvent>
#include <QPainter>
#include <QWheelEvent>

#include <algorithm>
#include <cmath>
#include <vector>

using koru::analysers::DoubleSlider;
using koru::framework::RulerMarker;

namespace {

const QColor kTraceColour = QColor::fromRgbF(0.2f, 0.7f, 0.9f, 1.0f);
const QColor kCentreLineColour = QColor::fromRgbF(0.14f, 0.14f, 0.14f, 1.0f);
constexpr double kMessageFontSize = 18.0;
// One wheel notch with Ctrl changes the zoom by this factor; without Ctrl it scrolls this many
// points.
constexpr double kWheelZoomFactor = 1.25;
constexpr double kWheelScrollPoints = 40.0;

} // namespace

KODelayFinderView::KODelayFinderView(QWidget* parent) : KOFloatVectorView(parent) {
    setMouseTracking(true);
}

KODelayFinderView::~KODelayFinderView() = default;

void KODelayFinderView::setData(std::shared_ptr<KODelayFinderData> data) {
    if (data == nullptr) {
        mData.reset();
        setVector(nullptr);
        update();
        return;
    }
    std::shared_ptr<const SDFloatVector> vector = data->impulseResponse();
    if (mData == nullptr)
        koru::log::info("KODelayFinderView setting IR-data, {}", vector->length());
    mData = std::move(data);
    // A result without samples (a damaged archive) has nothing to plot: it shows the message.
    setVector(vector->length() > 0 ? std::move(vector) : nullptr);
    updateZoomRange();
    update();
}

void KODelayFinderView::setDelayTimeMarkerPosition(double position) {
    mDelayTimeMarkerPosition = position;
    update();
}

void KODelayFinderView::setZeroTimeMarkerPosition(double position) {
    mZeroTimeMarkerPosition = position;
    update();
}

void KODelayFinderView::setZoomSlider(DoubleSlider* slider) {
    if (mZoomSlider != nullptr)
        disconnect(mZoomSlider, nullptr, this, nullptr);
    mZoomSlider = slider;
    if (slider != nullptr)
        connect(slider, &DoubleSlider::doubleValueChanged, this, &KODelayFinderView::changeZoom);
    updateZoomRange();
}

double KODelayFinderView::minimumZoom() const {
    const std::uint64_t samples = documentLength();
    return samples > 0 ? std::min(1.0, double(width()) / double(samples)) : 1.0;
}

void KODelayFinderView::changeZoom(double zoom) {
    if (vector() == nullptr)
        return;
    setZoom(zoom);
    if (mZoomSlider != nullptr)
        mZoomSlider->setDoubleValue(this->zoom());
}

void KODelayFinderView::zoomIn() {
    changeZoom(std::clamp(zoom() * kZoomStepFactor, minimumZoom(), 1.0));
}

void KODelayFinderView::zoomOut() {
    changeZoom(std::clamp(zoom() / kZoomStepFactor, minimumZoom(), 1.0));
}

void KODelayFinderView::updateZoomRange() {
    if (mZoomSlider == nullptr || vector() == nullptr)
        return;
    mZoomSlider->setDoubleRange(minimumZoom(), 1.0);
    mZoomSlider->setDoubleValue(zoom());
}

void KODelayFinderView::setBackingColor(const QColor& colour) {
    mBackingColor = colour;
    update();
}

bool KODelayFinderView::rulerShouldMoveMarker(const RulerMarker&) {
    return true;
}

double KODelayFinderView::rulerWillMoveMarker(const RulerMarker& marker, double location) {
    mMovingMarker = true;
    markerMoved(marker, location);
    mMovingMarker = false;
    return location;
}

void KODelayFinderView::rulerDidMoveMarker(const RulerMarker& marker) {
    markerMoved(marker, marker.location);
}

// The delegate may replace the ruler's markers, `marker` among them: it is read before.
void KODelayFinderView::markerMoved(const RulerMarker& marker, double location) {
    if (!std::isfinite(location))
        return;
    const auto samples = std::int64_t(std::trunc(location));
    const QString identifier = marker.identifier;
    if (identifier == QLatin1String(kZeroPointMarker)) {
        mZeroTimeMarkerPosition = location;
        if (mDelegate != nullptr)
            mDelegate->setDelayTimeOffset(samples);
    } else if (identifier == QLatin1String(kDelayTimeMarker)) {
        mDelayTimeMarkerPosition = location;
        if (mDelegate != nullptr)
            mDelegate->setDelayTime(samples);
    } else {
        return;
    }
    update();
}

void KODelayFinderView::selectionDidChange() {
    const koru::framework::SampleRange range = selection();
    if (hasSelection() && range.length > 0 && mData != nullptr) {
        const std::int64_t peak = mData->findPeakInRange(range.location, range.length);
        koru::log::info("found IR-peak in range {{{}, {}}} :{}", range.location, range.length,
                        peak);
        // A silent stretch has no peak to move the delay to.
        if (peak != KODelayFinderData::kNotFound && mDelegate != nullptr)
            mDelegate->setDelayTime(peak);
    }
    KOFloatVectorView::selectionDidChange();
}

void KODelayFinderView::resizeEvent(QResizeEvent* event) {
    KOFloatVectorView::resizeEvent(event);
    updateZoomRange();
}

void KODelayFinderView::wheelEvent(QWheelEvent* event) {
    const QPoint delta = event->angleDelta();
    const double notches = double(delta.y() != 0 ? delta.y() : delta.x()) / 120.0;
    if (vector() == nullptr || notches == 0.0) {
        event->ignore();
        return;
    }
    // Pinching is unreliable on X11: Ctrl and the wheel zoom instead.
    if (event->modifiers().testFlag(Qt::ControlModifier))
        changeZoom(std::clamp(zoom() * std::pow(kWheelZoomFactor, notches), minimumZoom(), 1.0));
    else
        setScrollOrigin(scrollOrigin() - notches * kWheelScrollPoints / zoom());
    event->accept();
}

// A pinch grows the zoom by its relative change of scale.
bool KODelayFinderView::event(QEvent* event) {
    if (event->type() == QEvent::NativeGesture) {
        const auto* gesture = static_cast<QNativeGestureEvent*>(event);
        if (gesture->gestureType() == Qt::ZoomNativeGesture && vector() != nullptr) {
            const double factor = 1.0 + gesture->value();
            if (factor > 0.0)
                changeZoom(std::clamp(zoom() * factor, minimumZoom(), 1.0));
            return true;
        }
    }
    return KOFloatVectorView::event(event);
}

void KODelayFinderView::paintEvent(QPaintEvent*) {
    const double ratio = devicePixelRatioF();
    const QSize pixels(std::max(1, int(std::ceil(width() * ratio))),
                       std::max(1, int(std::ceil(height() * ratio))));
    if (mImage.size() != pixels) {
        mImage = QImage(pixels, QImage::Format_ARGB32_Premultiplied);
        mImage.setDevicePixelRatio(ratio);
    }
    drawContents(mImage);
    QPainter painter(this);
    painter.drawImage(QPointF(0.0, 0.0), mImage);
}

void KODelayFinderView::drawContents(QImage& image) {
    const double w = double(width());
    const double h = double(height());
    QPainter painter(&image);
    painter.setCompositionMode(QPainter::CompositionMode_Source);
    painter.fillRect(QRectF(0.0, 0.0, w, h), mBackingColor);
    painter.setCompositionMode(QPainter::CompositionMode_SourceOver);
    if (vector() == nullptr) {
        QFont font = painter.font();
        font.setPointSizeF(kMessageFontSize);
        painter.setFont(font);
        painter.setPen(kTraceColour);
        painter.drawText(QRectF(0.0, 0.0, w, h), Qt::AlignCenter,
                         QString::fromLatin1(kNoDataMessage));
        return;
    }
    if (hasSelection()) {
        const QRectF selected = selectionRect();
        drawSelectionInRect(painter, QRectF(widgetX(selected.x()), 0.0, selected.width() * zoom(),
                                            selected.height()));
    }
    painter.setRenderHint(QPainter::Antialiasing, false);
    painter.setPen(QPen(Qt::lightGray, 0.0));
    for (const double position : {mDelayTimeMarkerPosition, mZeroTimeMarkerPosition}) {
        const double x = std::round(widgetX(position)) + 0.5;
        if (std::isfinite(x))
            painter.drawLine(QPointF(x, 0.0), QPointF(x, h));
    }
    const QRectF rect = visibleRect();
    painter.setPen(QPen(kCentreLineColour, 0.0));
    painter.drawLine(QPointF(0.0, std::floor(h / 2.0) + 0.5),
                     QPointF(rect.width() * zoom(), std::floor(h / 2.0) + 0.5));

    // Points come y-up from the middle and x from the visible rect's left edge.
    const QTransform toWidget = QTransform(zoom(), 0.0, 0.0, -1.0, widgetX(rect.x()), h / 2.0);
    std::vector<QPointF> line;
    inPathPointsForVector(*vector(), [&line](const QPointF* points, std::size_t count) {
        line.assign(points, points + count);
    });
    if (zoom() > 0.5) {
        // Straight into the pixels, so the painter has to let go of the image first.
        painter.end();
        const double ratio = image.devicePixelRatio();
        koru::framework::strokeAntialiasedPolyline(
            image, line, toWidget * QTransform::fromScale(ratio, ratio), kTraceColour);
        return;
    }
    QPolygonF polygon;
    polygon.reserve(qsizetype(line.size()));
    for (const QPointF& point : line)
        polygon.append(toWidget.map(point));
    painter.setPen(QPen(kTraceColour, 0.0));
    painter.drawPolyline(polygon);
}
