#include "framework/KOInstrumentControlView.h"
#include "framework/KOInstrumentView.h"
#include "framework/KeyboardModifierSource.h"
#include "platform/defaults/UserDefaults.h"
#include "support/TestSupport.h"

#include <QApplication>
#include <QEnterEvent>
#include <QMouseEvent>
#include <QTimer>

#include <gtest/gtest.h>

namespace {

using koru::platform::UserDefaults;

class CountingView : public KOInstrumentView {
public:
    int paints = 0;
    int backingLayers = 0;
    void createBackingLayer() override { ++backingLayers; }

protected:
    void paintEvent(QPaintEvent*) override { ++paints; }
};

class InstrumentViewTest : public testing::Test {
protected:
    InstrumentViewTest() {
        view.resize(400, 300);
        view.controlView()->setSize(QSizeF(180, 90));
    }
    ~InstrumentViewTest() override {
        UserDefaults::standardUserDefaults().removeObjectForKey(
            KOInstrumentView::kShowSettingsViewManualKey);
        koru::framework::KeyboardModifierSource::setProvider(nullptr);
    }
    void enter() {
        QEnterEvent event(QPointF(10, 10), QPointF(10, 10), view.mapToGlobal(QPointF(10, 10)));
        QApplication::sendEvent(&view, &event);
    }
    void moveTo(QPointF point) {
        QMouseEvent event(QEvent::MouseMove, point, view.mapToGlobal(point), Qt::NoButton,
                          Qt::NoButton, Qt::NoModifier);
        QApplication::sendEvent(&view, &event);
    }
    void doubleClick(QPointF point) {
        QMouseEvent event(QEvent::MouseButtonDblClick, point, view.mapToGlobal(point),
                          Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(&view, &event);
    }
    // The running hide timer of the overlay, if any.
    QTimer* hideTimer() const {
        for (QTimer* timer : view.findChildren<QTimer*>()) {
            if (timer->isActive() && timer->isSingleShot())
                return timer;
        }
        return nullptr;
    }
    // A point inside the overlay's strip, left of the overlay itself.
    QPointF inStrip() const { return {5.0, double(view.controlViewTrackingFrame().center().y())}; }

    CountingView view;
};

TEST_F(InstrumentViewTest, TicksPaintOnlyAfterADirtyMark) {
    view.show();
    ASSERT_TRUE(koru::test::spinUntil([this] { return view.paints > 0; }));
    // Showing paints more than once, a paint posting the next: settled when a round adds none.
    for (int before = -1, rounds = 0; before != view.paints && rounds < 100; ++rounds) {
        before = view.paints;
        QApplication::processEvents();
    }
    // Ticks by hand, each followed by the paint it asked for.
    const auto tick = [this] {
        view.redrawTimer();
        QApplication::processEvents();
    };
    tick();
    view.paints = 0;
    tick();
    EXPECT_EQ(view.paints, 0);
    view.setViewIsDirty();
    tick();
    EXPECT_EQ(view.paints, 1);
    EXPECT_FALSE(view.viewIsDirty());
    tick();
    EXPECT_EQ(view.paints, 1);

    // The redraw timer is what ticks; rate 0 removes it.
    view.setRedrawRate(100);
    view.setViewIsDirty();
    EXPECT_TRUE(koru::test::spinUntil([this] { return view.paints == 2; }));
    view.setRedrawRate(0);
    EXPECT_EQ(view.redrawTimerObject(), nullptr);
}

TEST_F(InstrumentViewTest, ResizingRebuildsTheBackingLayerAndCentresTheOverlay) {
    const int before = view.backingLayers;
    view.show();
    view.resize(600, 300);
    QApplication::processEvents();
    EXPECT_GT(view.backingLayers, before);
    view.showControlView();
    const QRect overlay = view.controlView()->geometry();
    EXPECT_EQ(overlay.x(), 300 - 90);
    EXPECT_EQ(overlay.bottom(), 300 - 1 - 15);
    EXPECT_EQ(view.controlViewTrackingFrame(), QRect(0, overlay.y(), 600, overlay.height()));
}

TEST_F(InstrumentViewTest, HoverShowsTheOverlayAndItsTimerHidesIt) {
    view.show();
    enter();
    EXPECT_TRUE(view.controlViewIsShown());
    ASSERT_TRUE(view.controlViewHideTimerActive());
    QTimer* first = hideTimer();
    ASSERT_NE(first, nullptr);
    EXPECT_TRUE(first->isSingleShot());
    EXPECT_EQ(first->interval(), KOInstrumentView::kControlViewHideDelayMs);

    // moving inside the strip starts the whole delay over
    moveTo(inStrip());
    QTimer* second = hideTimer();
    ASSERT_NE(second, nullptr);
    EXPECT_NE(second, first);
    EXPECT_EQ(second->interval(), KOInstrumentView::kControlViewHideDelayMs);
    EXPECT_TRUE(view.controlViewIsShown());

    // the delay runs out: rather than wait for it, the timer is made due now
    second->start(0);
    EXPECT_TRUE(koru::test::spinUntil([this] { return !view.controlViewIsShown(); }));
    EXPECT_FALSE(view.controlView()->isVisible());
    EXPECT_FALSE(view.controlViewHideTimerActive());
    // outside the strip the pointer does not bring it back
    moveTo(QPointF(5, 5));
    EXPECT_FALSE(view.controlViewIsShown());
    moveTo(inStrip());
    EXPECT_TRUE(view.controlViewIsShown());
}

TEST_F(InstrumentViewTest, ManualOverlayIgnoresHoverButToggles) {
    UserDefaults::standardUserDefaults().setBool(KOInstrumentView::kShowSettingsViewManualKey,
                                                 true);
    view.show();
    enter();
    moveTo(inStrip());
    EXPECT_FALSE(view.controlViewIsShown());
    doubleClick(QPointF(200, 100));
    EXPECT_TRUE(view.controlViewIsShown());
    EXPECT_FALSE(view.controlViewHideTimerActive()); // stays until toggled again
    doubleClick(QPointF(200, 100));
    EXPECT_FALSE(view.controlViewIsShown());
}

TEST_F(InstrumentViewTest, HoverArmsNoTimerOnceADoubleClickMadeTheOverlayPermanent) {
    view.show();
    doubleClick(QPointF(200, 100));
    ASSERT_TRUE(view.controlViewIsShownPermanently());
    enter();
    moveTo(inStrip());
    moveTo(QPointF(5, 5));
    moveTo(inStrip());
    EXPECT_TRUE(view.controlViewIsShown());
    for (const QTimer* timer : view.findChildren<QTimer*>())
        EXPECT_FALSE(timer->isActive()) << "a running timer would hide the overlay";
    // Toggled off, hovering works as before.
    doubleClick(QPointF(200, 100));
    EXPECT_FALSE(view.controlViewIsShown());
    EXPECT_FALSE(view.controlViewIsShownPermanently());
    moveTo(inStrip());
    EXPECT_TRUE(view.controlViewIsShown());
    EXPECT_TRUE(view.controlViewHideTimerActive());
}

TEST_F(InstrumentViewTest, ControlClickWithoutAControllerDoesNothing) {
    koru::framework::KeyboardModifierSource::setProvider([] { return Qt::ControlModifier; });
    view.show();
    QMouseEvent press(QEvent::MouseButtonPress, QPointF(50, 50), view.mapToGlobal(QPointF(50, 50)),
                      Qt::LeftButton, Qt::LeftButton, Qt::ControlModifier);
    QApplication::sendEvent(&view, &press);
    EXPECT_FALSE(view.controlViewIsShown());
}

} // namespace
