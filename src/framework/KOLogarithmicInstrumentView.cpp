#include "KOLogarithmicInstrumentView.h"

#include "KOFFTBackingLayer.h"
#include "KOFFTLayer.h"
#include "KOInstrumentControlView.h"
#include "KOLogarithmicInstrumentViewDelegate.h"
#include "YUpGeometry.h"
#include "utility/KOString.h"
#include "utility/ui/KOInfoPanel.h"
#include "utility/ui/RangeSlider.h"

#include <fmt/format.h>

#include <QKeyEvent>
#include <QMouseEvent>
#include <QNativeGestureEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QWheelEvent>

#include <algorithm>
#include <cmath>

using koru::RangeSlider;
using koru::framework::YUpGeometry;

namespace {

constexpr QSizeF kOverlaySize(180.0, 90.0);
constexpr int kFirstFFTSize = 8192;

bool finite(float value) {
    return std::isfinite(value);
}

} // namespace

KOLogarithmicInstrumentView::KOLogarithmicInstrumentView(QWidget* parent, double nyquist)
    : KOInstrumentBackgroundView(parent),
      mf(std::make_unique<ZOLogViewMath>(3, 50.0, 20000.0, nyquist)),
      mMinMaxTool(std::make_unique<ZOLogViewMath>(1, kLowestFrequency, nyquist, nyquist)) {
    setFocusPolicy(Qt::StrongFocus);
    setCursor(Qt::CrossCursor);
    setFFTSize(kFirstFFTSize);
    KOInstrumentControlView* overlay = controlView();
    overlay->setSize(kOverlaySize);
    overlay->setCursor(Qt::ArrowCursor);
    mFrequencySlider = overlay->addDoubleSliderWithFrame(
        QRectF(5.0, 5.0, 80.0, 25.0), this, [this](QWidget*) { setFrequencyRange(); },
        QStringLiteral("Frequency Range"));
    mFrequencySlider->setRange(0.0, 1.0);
    mMagSlider = overlay->addDoubleSliderWithFrame(
        QRectF(5.0, 30.0, 80.0, 25.0), this, [this](QWidget*) { setMagRange(); },
        QStringLiteral("Power Range"));
    mMagSlider->setRange(magMin(), magMax());
    mMagSlider->setValues(getLowerMagBound(), getUpperMagBound());
    updateFrequencyKnobs();
}

KOLogarithmicInstrumentView::~KOLogarithmicInstrumentView() = default;

void KOLogarithmicInstrumentView::setFFTSize(std::uint32_t size) {
    mFFTSize = size;
    const std::lock_guard lock(mLayerMutex);
    mf->SetFFTSize(size, width());
}

void KOLogarithmicInstrumentView::createBackingLayer() {
    const std::lock_guard lock(objectLock());
    mBackingLayer.reset();
    if (width() <= 0 || height() <= 0) {
        return;
    }
    mBackingLayer = std::make_unique<KOFFTBackingLayer>(*mf, width(), height(), getLowerMagBound(),
                                                        getUpperMagBound(), devicePixelRatioF());
}

void KOLogarithmicInstrumentView::setNyquistFrequency(float hertz) {
    const std::lock_guard lock(objectLock());
    mf->setNyquist(hertz);
    mf->setHighFrequency(hertz);
    mMinMaxTool->setNyquist(hertz);
    mMinMaxTool->setHighFrequency(hertz);
    createBackingLayer();
    // The slider axis changed under the knobs: put them back over the displayed bounds.
    updateFrequencyKnobs();
}

void KOLogarithmicInstrumentView::updateFrequencyKnobs() {
    mFrequencySlider->setValues(mMinMaxTool->frequencyToPosition(mf->lowFrequency()),
                                mMinMaxTool->frequencyToPosition(mf->highFrequency()));
}

void KOLogarithmicInstrumentView::setLowFrequencyBound(float hertz) {
    if (!finite(hertz)) {
        return;
    }
    const double upperLimit = mMinMaxTool->highFrequency();
    mf->setLowFrequency(std::clamp(double(hertz), double(kLowestFrequency), upperLimit));
    updateFrequencyKnobs();
    createBackingLayer();
    fBoundsChanged();
}

void KOLogarithmicInstrumentView::setHiFrequencyBound(float hertz) {
    if (!finite(hertz)) {
        return;
    }
    const double upperLimit = mMinMaxTool->highFrequency();
    mf->setHighFrequency(
        std::clamp(double(hertz), std::min(double(kLowestUpperFrequency), upperLimit), upperLimit));
    updateFrequencyKnobs();
    createBackingLayer();
    fBoundsChanged();
}

void KOLogarithmicInstrumentView::setFrequencyBounds(float lower, float upper) {
    mf->setHighFrequency(upper);
    mf->setLowFrequency(lower);
    fBoundsChanged();
}

void KOLogarithmicInstrumentView::setFrequencyRange() {
    {
        const std::lock_guard lock(objectLock());
        const auto lower = float(mMinMaxTool->positionToFrequency(mFrequencySlider->lowValue()));
        const auto upper = float(mMinMaxTool->positionToFrequency(mFrequencySlider->highValue()));
        mf->setFrequencyRange(lower, upper);
        createBackingLayer();
        setNeedsDisplay();
        updateFrequencyKnobs();
    }
    fBoundsChanged();
}

float KOLogarithmicInstrumentView::getLowerFBound() const {
    return float(mf->lowFrequency());
}

float KOLogarithmicInstrumentView::getUpperFBound() const {
    return float(mf->highFrequency());
}

void KOLogarithmicInstrumentView::fBoundsChanged() {
    if (mDelegate != nullptr) {
        mDelegate->viewDidChangeFrequencyBounds(getLowerFBound(), getUpperFBound());
    }
}

void KOLogarithmicInstrumentView::setMagLimits(float lower, float upper) {
    mMagMin = lower;
    mMagMax = upper;
    mMagSlider->setRange(lower, upper);
    createBackingLayer();
}

void KOLogarithmicInstrumentView::setLoMagLimit(float decibels) {
    if (!finite(decibels) || decibels == getLowerMagBound()) {
        return;
    }
    float lower = std::max(magMin(), decibels);
    float upper = getUpperMagBound();
    if (lower + kMinimumMagSpan > upper) {
        upper = std::min(lower + kMinimumMagSpan, magMax());
        mUpperMagBound = upper;
        mMagSlider->setHighValue(upper);
    }
    lower = std::min(lower, upper - kMinimumMagSpan);
    mLowerMagBound = lower;
    mMagSlider->setLowValue(lower);
    createBackingLayer();
    magBoundsChanged();
}

void KOLogarithmicInstrumentView::setHiMagLimit(float decibels) {
    if (!finite(decibels) || decibels == getUpperMagBound()) {
        return;
    }
    float upper = std::min(magMax(), decibels);
    float lower = getLowerMagBound();
    if (upper - kMinimumMagSpan < lower) {
        lower = std::max(upper - kMinimumMagSpan, magMin());
        mLowerMagBound = lower;
        mMagSlider->setLowValue(lower);
    }
    upper = std::max(upper, lower + kMinimumMagSpan);
    mUpperMagBound = upper;
    mMagSlider->setHighValue(upper);
    createBackingLayer();
    magBoundsChanged();
}

void KOLogarithmicInstrumentView::setMagRange() {
    const std::lock_guard lock(objectLock());
    const double high = mMagSlider->highValue();
    setLoMagLimit(float(mMagSlider->lowValue()));
    setHiMagLimit(float(high));
}

void KOLogarithmicInstrumentView::magBoundsChanged() {
    if (mDelegate != nullptr) {
        mDelegate->viewDidChangeMagnitudeBounds(getLowerMagBound(), getUpperMagBound());
    }
}

void KOLogarithmicInstrumentView::shiftMagBounds(float lowerDelta, float upperDelta) {
    const float upper = getUpperMagBound();
    setLoMagLimit(getLowerMagBound() + lowerDelta);
    setHiMagLimit(upper + upperDelta);
    setNeedsDisplay();
}

void KOLogarithmicInstrumentView::zoomIn() {
    shiftMagBounds(1.0f, -1.0f);
}

void KOLogarithmicInstrumentView::zoomOut() {
    shiftMagBounds(-1.0f, 1.0f);
}

void KOLogarithmicInstrumentView::moveUp() {
    shiftMagBounds(1.0f, 1.0f);
}

void KOLogarithmicInstrumentView::moveDown() {
    shiftMagBounds(-1.0f, -1.0f);
}

void KOLogarithmicInstrumentView::magnify(double magnification) {
    const auto step = float(0.01 * magnification);
    shiftMagBounds(step, -step);
}

void KOLogarithmicInstrumentView::setFrequencyDetailsSize(int points) {
    mFrequencyDetailsSize = std::max(0, points);
    setViewIsDirty();
}

KOLogarithmicInstrumentView::Strip KOLogarithmicInstrumentView::stripAt(double y) const {
    if (y >= height() - kEdgeStrip) {
        return Strip::Bottom;
    }
    if (y < kEdgeStrip) {
        return Strip::Top;
    }
    return Strip::Middle;
}

float KOLogarithmicInstrumentView::levelAt(double y) const {
    const float lower = getLowerMagBound();
    const float upper = getUpperMagBound();
    const double h = std::max(1, height());
    return float(lower + (upper - lower) * (h - y) / h);
}

QString KOLogarithmicInstrumentView::readOutText(QPointF point, const QString& separator) const {
    const double w = std::max(1, width());
    const auto hertz = float(mf->positionToFrequency(point.x() / w));
    return KOString::stringWithFrequency(hertz) + QStringLiteral("Hz") + separator +
           QString::fromStdString(fmt::format("{:.1f} dB", levelAt(point.y())));
}

double KOLogarithmicInstrumentView::readOutX(double pointerX, double textWidth) const {
    return std::max(kReadOutMinimumX, std::min(pointerX, width() - textWidth));
}

QVariantMap KOLogarithmicInstrumentView::settingsAsDictionary() const {
    return {{kMinMagKey, double(getLowerMagBound())},
            {kMaxMagKey, double(getUpperMagBound())},
            {kMinFrequencyKey, double(getLowerFBound())},
            {kMaxFrequencyKey, double(getUpperFBound())}};
}

// Missing keys read as 0 (then clamped); values that are no finite numbers are left out.
void KOLogarithmicInstrumentView::restoreSettingsFromDictionary(const QVariantMap& dictionary) {
    const auto read = [&dictionary](const QString& key) {
        const QVariant value = dictionary.value(key, 0.0);
        bool ok = false;
        const double number = value.toDouble(&ok);
        return ok ? float(number) : std::nanf("");
    };
    const float minFrequency = read(kMinFrequencyKey);
    const float maxFrequency = read(kMaxFrequencyKey);
    const float maxMag = read(kMaxMagKey);
    const float minMag = read(kMinMagKey);
    setLoMagLimit(minMag);
    setHiMagLimit(maxMag);
    setLowFrequencyBound(minFrequency);
    setHiFrequencyBound(maxFrequency);
}

bool KOLogarithmicInstrumentView::buildTraceLayer(const std::function<void(KOFFTLayer&)>& draw) {
    if (viewIsDirty()) {
        return false;
    }
    // The collector never waits for the main thread: a view that is painting skips this frame.
    const std::unique_lock viewLock(objectLock(), std::try_to_lock);
    if (!viewLock.owns_lock()) {
        return false;
    }
    const std::unique_lock layerLock(mLayerMutex, std::try_to_lock);
    if (!layerLock.owns_lock()) {
        return false;
    }
    const double w = mLayerWidth.load();
    const double h = mLayerHeight.load();
    if (w < 1.0 || h < 1.0) {
        return false;
    }
    auto layer = std::make_unique<KOFFTLayer>(mf.get(), w, h, getLowerMagBound(),
                                              getUpperMagBound(), mDevicePixelRatio.load());
    draw(*layer);
    layer->image();
    mTraceLayer = std::move(layer);
    setViewIsDirty();
    return true;
}

void KOLogarithmicInstrumentView::resizeEvent(QResizeEvent* event) {
    mLayerWidth = width();
    mLayerHeight = height();
    mDevicePixelRatio = devicePixelRatioF();
    setFFTSize(mFFTSize);
    KOInstrumentBackgroundView::resizeEvent(event);
}

void KOLogarithmicInstrumentView::paintEvent(QPaintEvent* event) {
    KOInstrumentBackgroundView::paintEvent(event);
    QPainter painter(this);
    const std::lock_guard viewLock(objectLock());
    painter.save();
    YUpGeometry::flip(painter, height());
    if (mBackingLayer != nullptr) {
        mBackingLayer->drawAtPoint(painter, 0.0, 0.0);
        painter.setClipRect(mBackingLayer->plotRect());
    }
    {
        const std::lock_guard layerLock(mLayerMutex);
        if (mTraceLayer != nullptr) {
            mTraceLayer->drawAtPoint(painter, 0.0, 0.0);
        }
    }
    painter.restore();
    drawReadOut(painter);
}

void KOLogarithmicInstrumentView::drawReadOut(QPainter& painter) {
    if (mFrequencyDetailsSize == 0 || !mouseIsInView() ||
        !QRectF(rect()).contains(mLastMousePosition)) {
        return;
    }
    QFont font = painter.font();
    font.setPixelSize(mFrequencyDetailsSize);
    const QString text = readOutText(mLastMousePosition, QStringLiteral("  "));
    const double x = readOutX(mLastMousePosition.x(), YUpGeometry::textAdvance(text, font));
    painter.setFont(font);
    painter.setPen(Qt::white);
    // The text's bottom sits details-size + 2 below the top.
    painter.drawText(QPointF(x, mFrequencyDetailsSize + 2.0 - QFontMetricsF(font).descent()), text);
}

// A notch of the wheel moves the bounds by 1 dB; turning the wheel away from the user raises
// them, like dragging upwards.
void KOLogarithmicInstrumentView::wheelEvent(QWheelEvent* event) {
    const auto d = float(event->angleDelta().y() / 120.0);
    const float lower = getLowerMagBound();
    const float upper = getUpperMagBound();
    switch (stripAt(event->position().y())) {
    case Strip::Bottom:
        setLoMagLimit(lower + d);
        break;
    case Strip::Top:
        setHiMagLimit(upper + d);
        break;
    case Strip::Middle:
        setLoMagLimit(lower + d);
        setHiMagLimit(upper + d);
        break;
    }
    setNeedsDisplay();
    event->accept();
}

void KOLogarithmicInstrumentView::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Up) {
        moveUp();
        return;
    }
    if (event->key() == Qt::Key_Down) {
        moveDown();
        return;
    }
    KOInstrumentBackgroundView::keyPressEvent(event);
}

void KOLogarithmicInstrumentView::mousePressEvent(QMouseEvent* event) {
    const double y = event->position().y();
    mDragMagStart = levelAt(y);
    const Strip strip = stripAt(y);
    mDragChangesLowerLimit = strip != Strip::Top;
    mDragChangesUpperLimit = strip != Strip::Bottom;
    KOInstrumentBackgroundView::mousePressEvent(event);
}

void KOLogarithmicInstrumentView::mouseMoveEvent(QMouseEvent* event) {
    const QPointF point = event->position();
    if (event->buttons().testFlag(Qt::LeftButton)) {
        const float delta = levelAt(point.y()) - mDragMagStart;
        const float upper = getUpperMagBound();
        if (mDragChangesLowerLimit) {
            setLoMagLimit(getLowerMagBound() + delta);
        }
        if (mDragChangesUpperLimit) {
            setHiMagLimit(upper + delta);
        }
        mDragMagStart = levelAt(point.y());
        setNeedsDisplay();
        return;
    }
    mLastMousePosition = point;
    if (QRectF(rect()).contains(point)) {
        KOInfoPanel::sharedInfoPanel().setInfoText(readOutText(point, QStringLiteral(" : ")));
        setViewIsDirty();
    } else {
        KOInfoPanel::sharedInfoPanel().setInfoText(QString());
    }
    KOInstrumentBackgroundView::mouseMoveEvent(event);
}

void KOLogarithmicInstrumentView::leaveEvent(QEvent* event) {
    KOInstrumentBackgroundView::leaveEvent(event);
    setViewIsDirty();
}

// Pinch: Qt reports the change of scale (0.05 for 5 %); the range narrows by 10 dB at each end
// per 100 %.
bool KOLogarithmicInstrumentView::event(QEvent* event) {
    if (event->type() == QEvent::NativeGesture) {
        const auto* gesture = static_cast<QNativeGestureEvent*>(event);
        if (gesture->gestureType() == Qt::ZoomNativeGesture) {
            magnify(gesture->value() * 1000.0);
            return true;
        }
    }
    return KOInstrumentBackgroundView::event(event);
}
