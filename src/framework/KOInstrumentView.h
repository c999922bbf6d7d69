#pragma once

#include <QPointer>
#include <QWidget>

#include <atomic>
#include <mutex>

class KOInstrumentControlView;
class KOInstrumentController;
class QTimer;

// The base of every instrument plot. The collector thread builds new drawing content and marks
// the view dirty; the view's own timer repaints it at the instrument's redraw rate only then, so
// an unchanged view costs nothing per tick and the collector never forces a repaint. While the
// flag is set the collector skips building the next frame: at most one frame is pending.
//
// The hover overlay (created on first use) shows itself when the pointer enters its strip and
// hides itself kControlViewHideDelayMs later; a double click toggles it permanently, and while
// it is shown that way hovering arms no timer and a timer armed before cannot hide it.
//
// objectLock() guards the cached layers of subclasses. Lock order: objectLock -> layer mutex ->
// axis mutex; trace locks are only tried.
class KOInstrumentView : public QWidget {
    Q_OBJECT
public:
    static constexpr int kControlViewHideDelayMs = 2800;
    static inline const QString kShowSettingsViewManualKey =
        QStringLiteral("Appearance.ShowSettingsViewManual");

    explicit KOInstrumentView(QWidget* parent = nullptr);
    ~KOInstrumentView() override;

    // Repaints per second; 0 stops the timer.
    void setRedrawRate(unsigned rate);
    // Null while the rate is 0.
    const QTimer* redrawTimerObject() const { return mRedrawTimer; }
    void redrawTimer();

    // Any thread.
    void setViewIsDirty() { mDirtyView.store(true, std::memory_order_release); }
    bool viewIsDirty() const { return mDirtyView.load(std::memory_order_acquire); }
    // Clears the dirty flag and schedules a repaint.
    void setNeedsDisplay();

    // Rebuilds cached background drawing; the base has none.
    virtual void createBackingLayer() {}

    KOInstrumentControlView* controlView();
    bool controlViewIsShown() const { return mControlViewIsShown; }
    bool controlViewIsShownPermanently() const { return mControlViewShownPermanently; }
    bool mouseIsInView() const { return mMouseIsInView; }
    // The horizontal strip over which hovering shows the overlay (y-down widget coordinates).
    QRect controlViewTrackingFrame() const;
    void centerControlView();
    void showControlView();
    void hideControlView();
    void toggleControlViewVisibilityPermanent();
    void resetControlViewTimer();
    bool controlViewHideTimerActive() const;

    // Ctrl-click and a double right-click toggle this controller's control panel.
    void setInstrumentController(KOInstrumentController* controller);

    std::recursive_mutex& objectLock() const { return mObjectLock; }

protected:
    void resizeEvent(QResizeEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    bool event(QEvent* event) override;

private:
    bool overlayIsManual() const;
    void addControlViewRemoveTimer();
    void stopControlViewRemoveTimer();
    void controlViewRemoveTimerFired();
    void toggleControlPanelOfController();

    QTimer* mRedrawTimer = nullptr;
    std::atomic<bool> mDirtyView{false};
    QTimer* mControlViewRemoveTimer = nullptr;
    bool mControlViewIsShown = false;
    bool mControlViewShownPermanently = false;
    bool mMouseIsInView = true;
    KOInstrumentControlView* mControlView = nullptr;
    QPointer<KOInstrumentController> mController;
    // Recursive: bound setters re-enter it through createBackingLayer.
    mutable std::recursive_mutex mObjectLock;
};
