#include "KOSpectralHistoryView.h"

#include "framework/KOFFTBackingLayer.h"
#include "framework/KOLogarithmicInstrumentViewDelegate.h"
#include "framework/YUpGeometry.h"
#include "platform/dispatch/KOBackgroundQueue.h"
#include "platform/dispatch/SerialQueue.h"
#include "platform/fourcc/FourCC.h"
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
#include <optional>

using koru::analysers::SpectralHistoryColourMap;
using koru::analysers::SpectralHistoryImage;
using koru::analysers::SpectralHistoryRowSettings;
using koru::framework::YUpGeometry;
using koru::platform::SerialQueue;

// Everything the queued work touches. The view is reached only through `view`, which the
// view clears when it dies, and only to mark itself dirty.
struct KOSpectralHistoryView::State {
    SpectralHistoryImage image;

    SpectralHistoryColourMap colourMap() const {
        const std::lock_guard lock(colourLock);
        return colours;
    }
    void setColourLimits(double low, double high) {
        const std::lock_guard lock(colourLock);
        colours.setLimits(low, high);
    }
    void markViewDirty() {
        const std::lock_guard lock(viewLock);
        if (view != nullptr) {
            view->setViewIsDirty();
        }
    }
    void forgetView() {
        const std::lock_guard lock(viewLock);
        view = nullptr;
    }

    mutable std::mutex colourLock;
    SpectralHistoryColourMap colours;
    std::mutex viewLock;
    KOSpectralHistoryView* view = nullptr;
};

namespace {

std::optional<float> finiteNumber(const QVariantMap& dictionary, const QString& key) {
    const auto found = dictionary.constFind(key);
    if (found == dictionary.constEnd()) {
        return std::nullopt;
    }
    bool ok = false;
    const double number = found->toDouble(&ok);
    if (!ok || !std::isfinite(number)) {
        return std::nullopt;
    }
    return float(number);
}

} // namespace

KOSpectralHistoryView::KOSpectralHistoryView(QWidget* parent, double nyquist)
    : KOLogarithmicInstrumentView(parent, nyquist), mState(std::make_shared<State>()),
      mCalcQueue(std::make_unique<SerialQueue>(kImageQueueLabel)),
      mAccumulationMode(koru::platform::fourCC("whit")) {
    mState->view = this;
    mState->setColourLimits(mMagLow.load(), mMagHi.load());
    magSlider()->setRange(kMagSliderMinimum, kMagSliderMaximum);
    magSlider()->setValues(mMagLow.load(), mMagHi.load());
    initializeBuffers();
}

// Queued work may still be waiting for the image queue. It holds the state, not the view: the
// buffers are released behind it, and the queue's thread is joined on the background queue so
// that closing the window never waits for a row.
KOSpectralHistoryView::~KOSpectralHistoryView() {
    mState->forgetView();
    mCalcQueue->async([state = std::move(mState)]() mutable {
        state->image.releaseBuffers();
        state.reset();
    });
    KODispatchBackground([queue = std::shared_ptr<SerialQueue>(std::move(mCalcQueue))] {});
}

bool KOSpectralHistoryView::buildLayerWithSpectrum(std::vector<float> spectrum, double nyquist) {
    return queueWork(spectrum, &spectrum, nyquist);
}

bool KOSpectralHistoryView::buildLayerWithSpectrum(std::span<const float> spectrum,
                                                   double nyquist) {
    return queueWork(spectrum, nullptr, nyquist);
}

// Rows and images alternate, so only every other spectrum becomes a row: that sets how fast the
// history scrolls.
bool KOSpectralHistoryView::queueWork(std::span<const float> spectrum, std::vector<float>* owned,
                                      double nyquist) {
    if (spectrum.empty()) {
        return true;
    }
    if (mState->image.createdData()) {
        mCalcQueue->async([state = mState] {
            if (state->image.createImage()) {
                state->markViewDirty();
            }
        });
        return false;
    }
    std::vector<float> copy =
        owned != nullptr ? std::move(*owned) : std::vector<float>(spectrum.begin(), spectrum.end());
    mCalcQueue->async([state = mState, copy = std::move(copy), settings = rowSettings(nyquist)] {
        state->image.processInput(copy, settings, state->colourMap());
    });
    return false;
}

// The axis is read here, on the caller's thread, so the queue never touches the view.
SpectralHistoryRowSettings KOSpectralHistoryView::rowSettings(double nyquist) {
    SpectralHistoryRowSettings settings;
    const ZOLogViewMath& axis = logViewMath();
    {
        const std::lock_guard lock(axis.mutex());
        settings.lowFrequency = axis.lowFrequency();
        settings.highFrequency = axis.highFrequency();
        settings.nyquist = axis.nyquist();
    }
    if (std::isfinite(nyquist) && nyquist > 0.0) {
        settings.nyquist = nyquist;
    }
    settings.accumulationMode = accumulationMode();
    settings.octaveMode = octaveMode();
    return settings;
}

void KOSpectralHistoryView::setLoMagLimit(float decibels) {
    if (!std::isfinite(decibels) || double(decibels) == mMagLow.load()) {
        return;
    }
    mMagLow = decibels;
    mState->setColourLimits(mMagLow.load(), mMagHi.load());
    magSlider()->setLowValue(decibels);
    magLimitChanged(QStringLiteral("Lower Mag Limit:"), decibels);
}

void KOSpectralHistoryView::setHiMagLimit(float decibels) {
    if (!std::isfinite(decibels) || double(decibels) == mMagHi.load()) {
        return;
    }
    mMagHi = decibels;
    mState->setColourLimits(mMagLow.load(), mMagHi.load());
    magSlider()->setHighValue(decibels);
    magLimitChanged(QStringLiteral("Upper Mag Limit:"), decibels);
}

void KOSpectralHistoryView::magLimitChanged(const QString& label, double decibels) {
    KOInfoPanel::sharedInfoPanel().setInfoText(
        label, QString::fromStdString(fmt::format("{:.0f} dB", decibels)));
    if (delegate() != nullptr) {
        delegate()->viewDidChangeMagnitudeBounds(getLowerMagBound(), getUpperMagBound());
    }
}

SpectralHistoryColourMap KOSpectralHistoryView::colourMap() const {
    return mState->colourMap();
}

void KOSpectralHistoryView::setOctaveMode(unsigned denominator) {
    mOctaveMode = denominator;
}

QVariantMap KOSpectralHistoryView::settingsAsDictionary() const {
    return {{kMinMagKey, mMagLow.load()},
            {kMaxMagKey, mMagHi.load()},
            {kMinFrequencyKey, double(getLowerFBound())},
            {kMaxFrequencyKey, double(getUpperFBound())}};
}

void KOSpectralHistoryView::restoreSettingsFromDictionary(const QVariantMap& dictionary) {
    if (const auto value = finiteNumber(dictionary, kMinMagKey)) {
        setLoMagLimit(*value);
    }
    if (const auto value = finiteNumber(dictionary, kMaxMagKey)) {
        setHiMagLimit(*value);
    }
    if (const auto value = finiteNumber(dictionary, kMinFrequencyKey)) {
        setLowFrequencyBound(*value);
    }
    if (const auto value = finiteNumber(dictionary, kMaxFrequencyKey)) {
        setHiFrequencyBound(*value);
    }
}

void KOSpectralHistoryView::createBackingLayer() {
    const std::lock_guard lock(objectLock());
    mGrid.reset();
    if (width() <= 0 || height() <= 0) {
        return;
    }
    // Equal decibel bounds: the grid has no decibel lines and no label margin.
    mGrid = std::make_unique<KOFFTBackingLayer>(logViewMath(), width(), height(), 0.0, 0.0,
                                                devicePixelRatioF());
}

void KOSpectralHistoryView::setFrequencyDetailsSize(int points) {
    mDetailsSize = std::max(0, points);
    KOLogarithmicInstrumentView::setFrequencyDetailsSize(points);
}

void KOSpectralHistoryView::initializeBuffers() {
    mCalcQueue->async([state = mState, w = double(width()), h = double(height())] {
        if (state->image.initializeBuffers(w, h)) {
            state->markViewDirty();
        }
    });
}

std::shared_ptr<const SpectralHistoryImage> KOSpectralHistoryView::historyImage() const {
    return {mState, &mState->image};
}

void KOSpectralHistoryView::resizeEvent(QResizeEvent* event) {
    KOLogarithmicInstrumentView::resizeEvent(event);
    initializeBuffers();
}

void KOSpectralHistoryView::paintEvent(QPaintEvent* event) {
    KOInstrumentBackgroundView::paintEvent(event);
    QPainter painter(this);
    drawContent(painter);
}

// The image is added onto the grid (plus-lighter), scaled to the view and lifted clear of the
// frequency labels; black rows leave the grid as it is.
void KOSpectralHistoryView::drawContent(QPainter& painter) {
    const std::lock_guard lock(objectLock());
    if (mGrid != nullptr) {
        painter.save();
        YUpGeometry::flip(painter, height());
        mGrid->drawAtPoint(painter, 0.0, 0.0);
        painter.restore();
    }
    const QRectF target(0.0, -kImageOffset, width(), height());
    mState->image.drawImage([&painter, &target](const QImage& image) {
        painter.save();
        painter.setCompositionMode(QPainter::CompositionMode_Plus);
        painter.setOpacity(1.0);
        painter.drawImage(target, image, QRectF(image.rect()));
        painter.restore();
    });
    drawReadOut(painter);
}

void KOSpectralHistoryView::drawReadOut(QPainter& painter) {
    if (mDetailsSize == 0 || !mouseIsInView() || !QRectF(rect()).contains(mLastPointer)) {
        return;
    }
    QFont font = painter.font();
    font.setPixelSize(mDetailsSize);
    const double w = std::max(1, width());
    const auto hertz = float(logViewMath().positionToFrequency(mLastPointer.x() / w));
    const QString text = KOString::stringWithFrequency(hertz) + QStringLiteral("Hz");
    const double x = readOutX(mLastPointer.x(), YUpGeometry::textAdvance(text, font));
    painter.save();
    painter.setFont(font);
    painter.setPen(Qt::white);
    painter.drawText(QPointF(x, mDetailsSize + 2.0 - QFontMetricsF(font).descent()), text);
    painter.restore();
}

void KOSpectralHistoryView::wheelEvent(QWheelEvent* event) {
    event->accept();
}

void KOSpectralHistoryView::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Up || event->key() == Qt::Key_Down) {
        event->accept();
        return;
    }
    KOInstrumentBackgroundView::keyPressEvent(event);
}

// Hovering shows the frequency under the pointer; dragging changes nothing.
void KOSpectralHistoryView::mouseMoveEvent(QMouseEvent* event) {
    if (event->buttons() != Qt::NoButton) {
        event->accept();
        return;
    }
    mLastPointer = event->position();
    if (QRectF(rect()).contains(mLastPointer)) {
        const double w = std::max(1, width());
        const auto hertz = float(logViewMath().positionToFrequency(mLastPointer.x() / w));
        KOInfoPanel::sharedInfoPanel().setInfoText(KOString::stringWithFrequency(hertz) +
                                                   QStringLiteral("Hz"));
        setViewIsDirty();
    } else {
        KOInfoPanel::sharedInfoPanel().setInfoText(QString());
    }
    KOInstrumentBackgroundView::mouseMoveEvent(event);
}

bool KOSpectralHistoryView::event(QEvent* event) {
    if (event->type() == QEvent::NativeGesture &&
        static_cast<QNativeGestureEvent*>(event)->gestureType() == Qt::ZoomNativeGesture) {
        event->accept();
        return true;
    }
    return KOLogarithmicInstrumentView::event(event);
}
