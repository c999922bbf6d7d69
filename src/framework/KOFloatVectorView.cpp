#include "KOFloatVectorView.h"

#include "AntialiasedPolyline.h"
#include "FloatVectorPathCreation.h"
#include "KOColorAdditions.h"
#include "engine/SDFloatVector.h"

#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QPalette>

#include <algorithm>
#include <cmath>
#include <limits>
#include <stdexcept>
#include <vector>

using koru::framework::SampleRange;

namespace {

constexpr double kSelectionRadius = 3.0;

bool usableLength(std::uint64_t length) {
    const auto asFloat = float(length);
    return std::isnormal(asFloat) && std::isfinite(asFloat);
}

} // namespace

KOFloatVectorView::KOFloatVectorView(QWidget* parent) : KOInstrumentView(parent) {}

KOFloatVectorView::~KOFloatVectorView() = default;

void KOFloatVectorView::setVector(std::shared_ptr<const SDFloatVector> vector) {
    mVector = std::move(vector);
    visibleGeometryChanged();
}

std::uint64_t KOFloatVectorView::documentLength() const {
    return mVector != nullptr ? mVector->length() : 0;
}

void KOFloatVectorView::setZoom(double zoom) {
    if (!std::isfinite(zoom) || !(zoom > 0.0)) {
        return;
    }
    mZoom = zoom;
    visibleGeometryChanged();
}

double KOFloatVectorView::maximumScrollOrigin() const {
    return std::max(0.0, double(documentLength()) - double(width()) / mZoom);
}

void KOFloatVectorView::setScrollOrigin(double x) {
    if (std::isnan(x)) {
        return;
    }
    mOrigin = std::clamp(x, 0.0, maximumScrollOrigin());
    if (mRulerObserver) {
        mRulerObserver();
    }
    emit visibleRectChanged();
    update();
}

void KOFloatVectorView::visibleGeometryChanged() {
    setScrollOrigin(mOrigin);
}

QRectF KOFloatVectorView::visibleRect() const {
    const double shown = std::min(double(width()) / mZoom, double(documentLength()) - mOrigin);
    return {mOrigin, 0.0, std::max(0.0, shown), double(height())};
}

void KOFloatVectorView::setRulerObserver(std::function<void()> observer) {
    mRulerObserver = std::move(observer);
}

std::shared_ptr<const SDFloatVector> KOFloatVectorView::reducedVector(const SDFloatVector& vector,
                                                                      const QRectF& rect) {
    const auto x0 = std::uint64_t(std::max(0.0, rect.x()));
    const auto w = std::uint64_t(std::max(0.0, rect.width()));
    if (w == 0 || x0 >= vector.length()) {
        return nullptr;
    }
    const std::uint64_t visible = std::min(w, vector.length() - x0);
    const auto target = std::uint64_t(mZoom * rect.width());
    const ReductionKey key{x0, visible, target, vector.hash()};
    if (const auto* cached = mVectorCache.object(key)) {
        return *cached;
    }
    std::shared_ptr<const SDFloatVector> reduced = vector.subvectorOfRange(x0, visible);
    // Zoomed out beyond one value per view: every visible sample is kept.
    if (target > 0) {
        reduced = reduced->vectorMaxMagAdjustedToLength(target);
    }
    ++mReductionsMade;
    mVectorCache.insert(key, new std::shared_ptr<const SDFloatVector>(reduced));
    return reduced;
}

double KOFloatVectorView::yMulForVector(const SDFloatVector& vector, const QRectF& rect) const {
    return usableLength(vector.length()) ? (rect.height() / 2.0) / double(float(vector.length()))
                                         : 1.0;
}

void KOFloatVectorView::inPathPointsForVector(const SDFloatVector& vector,
                                              const PointsBlock& block) {
    const QRectF rect = visibleRect();
    const std::shared_ptr<const SDFloatVector> reduced = reducedVector(vector, rect);
    if (reduced == nullptr || reduced->length() == 0) {
        return;
    }
    const double yMul = yMulForVector(vector, rect);
    const double yLimit = rect.height() / 2.0;
    const float* values = reduced->data();
    const std::uint64_t m = reduced->length();
    std::uint64_t last = m;
    while (last > 0 && std::isnan(values[last - 1])) {
        --last;
    }
    std::vector<QPointF> points;
    points.reserve(std::size_t(2 * m + 1));
    points.emplace_back(0.0, 0.0);
    const double step = rect.width() / double(m);
    QPointF previous;
    double previousY = std::numeric_limits<double>::quiet_NaN();
    bool skipped = false;
    for (std::uint64_t i = 0; i < last; ++i) {
        if (std::isnan(values[i])) {
            continue;
        }
        const double y = std::clamp(std::round(double(values[i]) * yMul), -yLimit, yLimit) + 0.5;
        const QPointF point(std::round(double(i) * step) + 0.5, y);
        if (!(std::fabs(y - previousY) > 1.0) && i + 1 != last) {
            skipped = true;
        } else {
            if (skipped) {
                points.push_back(previous);
                skipped = false;
            }
            points.push_back(point);
        }
        previous = point;
        previousY = y;
    }
    block(points.data(), points.size());
}

QPainterPath KOFloatVectorView::pathForVector(const SDFloatVector* vector) {
    if (vector == nullptr) {
        throw std::invalid_argument("Invalid parameter not satisfying: vector");
    }
    const QRectF rect = visibleRect();
    const PathKey key{rect.x(), rect.width(), rect.height(), mZoom, vector->hash()};
    if (const QPainterPath* cached = mPathCache.object(key)) {
        return *cached;
    }
    const std::shared_ptr<const SDFloatVector> reduced = reducedVector(*vector, rect);
    if (reduced == nullptr) {
        return {};
    }
    QPainterPath path = FloatVectorPathCreation::pathFromFloatVector(
        *reduced, rect.width(), yMulForVector(*vector, rect), rect.height() / 2.0);
    path.translate(rect.x(), rect.height() / 2.0);
    mPathCache.insert(key, new QPainterPath(path));
    return path;
}

QTransform KOFloatVectorView::pathTransformation() const {
    const QRectF rect = visibleRect();
    return QTransform::fromTranslate(rect.x(), rect.height() / 2.0);
}

void KOFloatVectorView::drawSelectionInRect(QPainter& painter, const QRectF& rect) {
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing, true);
    painter.setPen(Qt::NoPen);
    painter.setBrush(palette().color(QPalette::Highlight));
    painter.drawRoundedRect(rect, kSelectionRadius, kSelectionRadius);
    painter.restore();
}

QRectF KOFloatVectorView::selectionRect() const {
    if (!mHasSelection) {
        return {};
    }
    const SampleRange range = selection();
    return {std::floor(double(range.location)), 0.0, std::ceil(double(range.length)),
            double(height())};
}

SampleRange KOFloatVectorView::selection() const {
    const std::lock_guard lock(mSelectionLock);
    return mSelection;
}

void KOFloatVectorView::setSelection(SampleRange range) {
    const std::lock_guard lock(mSelectionLock);
    mSelection = range;
}

void KOFloatVectorView::selectionDidChange() {
    emit selectionChanged();
}

void KOFloatVectorView::drawVector(QImage& image) {
    const double ratio = image.devicePixelRatio();
    {
        QPainter painter(&image);
        painter.fillRect(QRectF(0.0, 0.0, image.width() / ratio, image.height() / ratio),
                         KOColorAdditions::darkKORUBackingColor());
        if (mHasSelection) {
            const QRectF selected = selectionRect();
            drawSelectionInRect(painter, QRectF(widgetX(selected.x()), 0.0,
                                                selected.width() * mZoom, selected.height()));
        }
    }
    if (mVector == nullptr) {
        return;
    }
    const QRectF rect = visibleRect();
    // Points come y-up from the middle and x from the visible rect's left edge.
    const QTransform toDevice =
        QTransform(mZoom, 0.0, 0.0, -1.0, widgetX(rect.x()), rect.height() / 2.0) *
        QTransform::fromScale(ratio, ratio);
    inPathPointsForVector(*mVector, [&](const QPointF* points, std::size_t count) {
        const std::vector<QPointF> line(points, points + count);
        koru::framework::strokeAntialiasedPolyline(image, line, toDevice,
                                                   KOColorAdditions::noBlueColor());
    });
}

void KOFloatVectorView::paintEvent(QPaintEvent*) {
    const double ratio = devicePixelRatioF();
    const QSize pixels(std::max(1, int(std::ceil(width() * ratio))),
                       std::max(1, int(std::ceil(height() * ratio))));
    if (mLayer.size() != pixels) {
        mLayer = QImage(pixels, QImage::Format_ARGB32_Premultiplied);
        mLayer.setDevicePixelRatio(ratio);
    }
    drawVector(mLayer);
    QPainter painter(this);
    painter.drawImage(QPointF(0.0, 0.0), mLayer);
}

void KOFloatVectorView::resizeEvent(QResizeEvent* event) {
    KOInstrumentView::resizeEvent(event);
    visibleGeometryChanged();
}

double KOFloatVectorView::clampedDocumentX(double widgetXPosition) const {
    return std::clamp(documentX(widgetXPosition), 0.0, double(documentLength()));
}

void KOFloatVectorView::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton || event->modifiers().testFlag(Qt::ControlModifier)) {
        KOInstrumentView::mousePressEvent(event);
        return;
    }
    const double x = clampedDocumentX(event->position().x());
    if (event->modifiers().testFlag(Qt::ShiftModifier) && mHasSelection) {
        mDragged = std::fabs(x - mSelStart) < std::fabs(x - mSelEnd) ? Edge::Start : Edge::End;
        moveEdge(mDragged, x);
    } else {
        mSelStart = x;
        mSelEnd = x;
        mDragged = Edge::End;
    }
    selectionEdgesChanged();
}

void KOFloatVectorView::mouseMoveEvent(QMouseEvent* event) {
    if (mDragged == Edge::None) {
        KOInstrumentView::mouseMoveEvent(event);
        return;
    }
    moveEdge(mDragged, clampedDocumentX(event->position().x()));
    mHasDragged = true;
    selectionEdgesChanged();
}

void KOFloatVectorView::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton || mDragged == Edge::None) {
        KOInstrumentView::mouseReleaseEvent(event);
        return;
    }
    const double x = clampedDocumentX(event->position().x());
    if (mHasDragged) {
        moveEdge(mDragged, x);
        mHasDragged = false;
    } else {
        // A click without a drag removes the selection, Shift or not.
        mSelStart = mSelEnd;
    }
    mDragged = Edge::None;
    selectionEdgesChanged();
}

void KOFloatVectorView::moveEdge(Edge edge, double x) {
    if (edge == Edge::Start) {
        mSelStart = x;
    } else if (edge == Edge::End) {
        mSelEnd = x;
    }
}

void KOFloatVectorView::selectionEdgesChanged() {
    mHasSelection = mSelStart != mSelEnd;
    if (mHasSelection) {
        const double low = std::min(mSelStart, mSelEnd);
        const double high = std::max(mSelStart, mSelEnd);
        setSelection({std::uint64_t(low), std::uint64_t(high - low)});
    }
    if (!mHasDragged) {
        selectionDidChange();
    }
    update();
}
