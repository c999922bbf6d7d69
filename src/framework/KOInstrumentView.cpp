#include "KOInstrumentView.h"

#include "KOInstrumentControlView.h"
#include "KOInstrumentController.h"
#include "KOZoomableInstrumentView.h"
#include "KeyboardModifierSource.h"
#include "platform/defaults/UserDefaults.h"

#include <QEnterEvent>
#include <QMouseEvent>
#include <QNativeGestureEvent>
#include <QTimer>

KOInstrumentView::KOInstrumentView(QWidget* parent) : QWidget(parent) {
    setMouseTracking(true);
}

KOInstrumentView::~KOInstrumentView() = default;

void KOInstrumentView::setRedrawRate(unsigned rate) {
    delete mRedrawTimer;
    mRedrawTimer = nullptr;
    if (rate == 0) {
        return;
    }
    mRedrawTimer = new QTimer(this);
    mRedrawTimer->setTimerType(Qt::PreciseTimer);
    mRedrawTimer->setInterval(static_cast<int>(1000.0f / static_cast<float>(rate)));
    connect(mRedrawTimer, &QTimer::timeout, this, &KOInstrumentView::redrawTimer);
    mRedrawTimer->start();
}

void KOInstrumentView::redrawTimer() {
    if (viewIsDirty()) {
        setNeedsDisplay();
    }
}

void KOInstrumentView::setNeedsDisplay() {
    mDirtyView.store(false, std::memory_order_release);
    update();
}

void KOInstrumentView::setInstrumentController(KOInstrumentController* controller) {
    mController = controller;
}

KOInstrumentControlView* KOInstrumentView::controlView() {
    if (mControlView == nullptr) {
        mControlView = new KOInstrumentControlView(this);
        mControlView->hide();
    }
    return mControlView;
}

QRect KOInstrumentView::controlViewTrackingFrame() const {
    if (mControlView == nullptr) {
        return {};
    }
    const QRect overlay = mControlView->geometry();
    return {0, overlay.y(), width(), overlay.height()};
}

void KOInstrumentView::centerControlView() {
    if (mControlView != nullptr) {
        mControlView->placeInParent();
    }
}

void KOInstrumentView::showControlView() {
    if (mControlView == nullptr || mControlViewShownPermanently) {
        return;
    }
    if (mControlViewIsShown) {
        resetControlViewTimer();
        return;
    }
    mControlView->show();
    mControlView->raise();
    centerControlView();
    mControlViewIsShown = true;
    addControlViewRemoveTimer();
}

void KOInstrumentView::hideControlView() {
    stopControlViewRemoveTimer();
    if (mControlView != nullptr) {
        mControlView->hide();
    }
    mControlViewIsShown = false;
    mControlViewShownPermanently = false;
}

void KOInstrumentView::toggleControlViewVisibilityPermanent() {
    if (mControlView == nullptr) {
        return;
    }
    if (mControlViewIsShown) {
        hideControlView();
        return;
    }
    stopControlViewRemoveTimer();
    mControlView->show();
    mControlView->raise();
    centerControlView();
    mControlViewIsShown = true;
    mControlViewShownPermanently = true;
}

void KOInstrumentView::resetControlViewTimer() {
    stopControlViewRemoveTimer();
    addControlViewRemoveTimer();
}

bool KOInstrumentView::controlViewHideTimerActive() const {
    return mControlViewRemoveTimer != nullptr && mControlViewRemoveTimer->isActive();
}

void KOInstrumentView::addControlViewRemoveTimer() {
    mControlViewRemoveTimer = new QTimer(this);
    mControlViewRemoveTimer->setSingleShot(true);
    mControlViewRemoveTimer->setInterval(kControlViewHideDelayMs);
    connect(mControlViewRemoveTimer, &QTimer::timeout, this,
            &KOInstrumentView::controlViewRemoveTimerFired);
    mControlViewRemoveTimer->start();
}

void KOInstrumentView::stopControlViewRemoveTimer() {
    if (mControlViewRemoveTimer == nullptr) {
        return;
    }
    mControlViewRemoveTimer->stop();
    mControlViewRemoveTimer->deleteLater();
    mControlViewRemoveTimer = nullptr;
}

void KOInstrumentView::controlViewRemoveTimerFired() {
    if (!mControlViewShownPermanently) {
        hideControlView();
    }
}

bool KOInstrumentView::overlayIsManual() const {
    return koru::platform::UserDefaults::standardUserDefaults().boolForKey(
        kShowSettingsViewManualKey);
}

void KOInstrumentView::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    centerControlView();
    createBackingLayer();
}

void KOInstrumentView::enterEvent(QEnterEvent* event) {
    mMouseIsInView = true;
    if (!overlayIsManual()) {
        showControlView();
    }
    QWidget::enterEvent(event);
}

void KOInstrumentView::leaveEvent(QEvent* event) {
    mMouseIsInView = false;
    QWidget::leaveEvent(event);
}

void KOInstrumentView::mouseMoveEvent(QMouseEvent* event) {
    const QPoint point = event->position().toPoint();
    mMouseIsInView = rect().contains(point);
    if (!overlayIsManual() && controlViewTrackingFrame().contains(point)) {
        showControlView();
    }
    QWidget::mouseMoveEvent(event);
}

void KOInstrumentView::toggleControlPanelOfController() {
    if (mController != nullptr) {
        mController->toggleControlPanelVisibility(this);
    }
}

void KOInstrumentView::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton &&
        koru::framework::KeyboardModifierSource::current().testFlag(Qt::ControlModifier)) {
        toggleControlPanelOfController();
        return;
    }
    QWidget::mousePressEvent(event);
}

// A double right-click toggles the control panel; X11 opens context menus on the press, so
// this view offers none and needs no delay.
void KOInstrumentView::mouseDoubleClickEvent(QMouseEvent* event) {
    if (event->button() == Qt::RightButton) {
        toggleControlPanelOfController();
        return;
    }
    if (event->button() == Qt::LeftButton) {
        toggleControlViewVisibilityPermanent();
        return;
    }
    QWidget::mouseDoubleClickEvent(event);
}

// Pinching out zooms in, pinching in zooms out (the gesture's sign decides).
bool KOInstrumentView::event(QEvent* event) {
    if (event->type() != QEvent::NativeGesture) {
        return QWidget::event(event);
    }
    const auto* gesture = static_cast<QNativeGestureEvent*>(event);
    auto* zoomable = dynamic_cast<KOZoomableInstrumentView*>(this);
    if (gesture->gestureType() != Qt::ZoomNativeGesture || zoomable == nullptr) {
        return QWidget::event(event);
    }
    if (gesture->value() > 0.0) {
        zoomable->zoomIn();
    } else if (gesture->value() < 0.0) {
        zoomable->zoomOut();
    }
    return true;
}
