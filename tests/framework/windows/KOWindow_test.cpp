#include "framework/InstrumentTestSupport.h"
#include "framework/KOInstrumentWindow.h"
#include "framework/KeyboardModifierSource.h"
#include "framework/ZOWindowAdditions.h"
#include "platform/notifications/NotificationCenter.h"
#include "support/TestSupport.h"

#include <QApplication>
#include <QGuiApplication>
#include <QMouseEvent>
#include <QScreen>

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <optional>

using koru::framework::KeyboardModifierSource;
using koru::test::FakeInstrumentDevice;
using koru::test::TestInstrumentController;

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kTolerance = KOInstrumentWindow::kSnapTolerance;

// --- The decisions on y-up frames --------------------------------------------------------------

TEST(KOWindowCorners, ACornerMeetsOnlyADifferentNonOppositeCorner) {
    // rows: own corner, columns: the other window's corner (0 BL, 1 BR, 2 TL, 3 TR)
    const bool allowed[4][4] = {{false, true, true, false},
                                {true, false, false, true},
                                {true, false, false, true},
                                {false, true, true, false}};
    for (int own = 0; own < 4; ++own) {
        for (int other = 0; other < 4; ++other)
            EXPECT_EQ(KOWindow::cornerCanSnapToCorner(own, other), allowed[own][other])
                << own << " to " << other;
    }
}

TEST(KOWindowCorners, UnknownIdentifiersReadBottomLeftAndMoveNothing) {
    const QRectF frame(100, 50, 300, 200);
    EXPECT_EQ(KOWindow::cornerOf(frame, 7), QPointF(100, 50));
    EXPECT_EQ(KOWindow::cornerOf(frame, -1), QPointF(100, 50));
    EXPECT_EQ(KOWindow::frameWithCornerAt(frame, 4, {0, 0}), frame);
    EXPECT_EQ(KOWindow::frameWithCornerAt(frame, KOWindow::kTopRight, {500, 500}),
              QRectF(200, 300, 300, 200));
}

struct CornerCase {
    const char* name;
    QRectF moving;
    std::vector<QRectF> others;
    std::optional<std::size_t> window;
    std::int32_t ownCorner;
    QPointF target;
};

TEST(KOWindowCorners, CornerSnapTable) {
    const QRectF b(500, 300, 300,
                   200); // corners BL (500,300) BR (800,300) TL (500,500) TR (800,500)
    const CornerCase cases[] = {
        {"bottom-left 10 from bottom-right: right of B, bottoms aligned",
         QRectF(810, 290, 200, 100),
         {b},
         0,
         KOWindow::kBottomLeft,
         {800, 300}},
        {"a distance of exactly 15 across does not snap",
         QRectF(815, 290, 200, 100),
         {b},
         std::nullopt,
         0,
         {}},
        {"a distance of exactly 15 up does not snap",
         QRectF(810, 285, 200, 100),
         {b},
         std::nullopt,
         0,
         {}},
        {"top-left near bottom-right is the diagonal pair",
         QRectF(805, 105, 200, 190),
         {b},
         std::nullopt,
         0,
         {}},
        {"top-right near top-left: left of B, tops aligned",
         QRectF(290, 410, 200, 100),
         {b},
         0,
         KOWindow::kTopRight,
         {500, 500}},
        {"the same corner of an overlapping window does not count",
         QRectF(505, 305, 100, 100),
         {b},
         std::nullopt,
         0,
         {}},
        {"top-left near bottom-left: below B",
         QRectF(508, 195, 300, 110),
         {b},
         0,
         KOWindow::kTopLeft,
         {500, 300}},
        {"the first window in the list wins",
         QRectF(810, 290, 200, 100),
         {QRectF(1005, 295, 100, 100), b},
         0,
         KOWindow::kTopRight,
         {1005, 395}},
        {"a frame with no number in it snaps nowhere",
         QRectF(kNaN, 290, 200, 100),
         {b},
         std::nullopt,
         0,
         {}},
    };
    for (const CornerCase& c : cases) {
        const auto snap = KOWindow::cornerSnap(c.moving, c.others, kTolerance);
        ASSERT_EQ(snap.has_value(), c.window.has_value()) << c.name;
        if (!snap)
            continue;
        EXPECT_EQ(snap->window, *c.window) << c.name;
        EXPECT_EQ(snap->ownCorner, c.ownCorner) << c.name;
        EXPECT_EQ(snap->target, c.target) << c.name;
    }
}

TEST(KOWindowCorners, ScreenCornersAreTestedInTurnOnTheFrameAsMoved) {
    const std::vector<QRectF> screens{QRectF(0, 0, 1600, 1000), QRectF(1600, 0, 1280, 800)};
    struct Case {
        const char* name;
        QRectF frame;
        QRectF expected;
    };
    const Case cases[] = {
        {"top-left of the first screen", QRectF(6, 690, 300, 300), QRectF(0, 700, 300, 300)},
        {"bottom-right of the second screen", QRectF(2570, 10, 300, 200),
         QRectF(2580, 0, 300, 200)},
        {"top-right of the second screen", QRectF(2575, 595, 300, 200),
         QRectF(2580, 600, 300, 200)},
        {"nowhere near a corner", QRectF(400, 400, 300, 200), QRectF(400, 400, 300, 200)},
        // Snapped to the top-left, the frame's top-right corner comes within reach of the
        // screen's and snaps there too: the second test reads the frame the first one moved.
        {"a window almost as wide as the screen", QRectF(8, 692, 1610, 300),
         QRectF(-10, 700, 1610, 300)},
    };
    for (const Case& c : cases)
        EXPECT_EQ(KOWindow::screenSnappedFrame(c.frame, screens, kTolerance), c.expected) << c.name;
    EXPECT_EQ(KOWindow::screenSnappedFrame(QRectF(6, 690, 300, 300), screens, 0.0),
              QRectF(6, 690, 300, 300));
}

TEST(KOWindowEdges, AResizedWindowTakesOverTheWidthOrHeightOfTheWindowItTouches) {
    const QRectF w(500, 300, 300, 200); // BL (500,300) TR (800,500)
    struct Case {
        const char* name;
        QRectF frame;
        std::optional<QRectF> expected;
    };
    const Case cases[] = {
        {"below: moved under it, its width", QRectF(505, 150, 290, 160),
         QRectF(500, 140, 300, 160)},
        {"right of: moved beside it, its height", QRectF(808, 305, 100, 190),
         QRectF(800, 300, 100, 200)},
        {"above: moved onto it, its width", QRectF(490, 495, 320, 90), QRectF(500, 500, 300, 90)},
        {"left of: moved beside it, its height", QRectF(390, 290, 104, 214),
         QRectF(396, 300, 104, 200)},
        {"only one corner touches", QRectF(505, 150, 200, 160), std::nullopt},
        {"far away", QRectF(0, 0, 100, 100), std::nullopt},
    };
    for (const Case& c : cases) {
        const auto snap = KOWindow::edgeSnap(c.frame, {w}, kTolerance);
        ASSERT_EQ(snap.has_value(), c.expected.has_value()) << c.name;
        if (snap) {
            EXPECT_EQ(snap->frame, *c.expected) << c.name;
        }
    }
}

TEST(KOWindowTolerance, BadTolerancesSnapNothing) {
    KOWindow window;
    for (double bad : {kNaN, -3.0, std::numeric_limits<double>::infinity()}) {
        window.setSnapTolerance(bad);
        EXPECT_EQ(window.snapTolerance(), 0.0);
        EXPECT_FALSE(window.cornerIsCloseToCorner({0, 0}, {0, 0}));
    }
    window.setSnapTolerance(15.0);
    EXPECT_TRUE(window.cornerIsCloseToCorner({0, 0}, {14.9, -14.9}));
    EXPECT_FALSE(window.cornerIsCloseToCorner({0, 0}, {15.0, 0}));
}

// --- Windows on two screens --------------------------------------------------------------------

// Counts "ParameterUnlink" posts by sender.
struct UnlinkCounter {
    UnlinkCounter()
        : token(koru::platform::observeNotification(
              QStringLiteral("ParameterUnlink"), nullptr,
              [this](const koru::platform::Notification& n) {
                  ++posts;
                  lastIdentifier = n.userInfo.value(QStringLiteral("identifier")).toString();
              })) {}
    int posts = 0;
    QString lastIdentifier;
    koru::platform::ObserverToken token;
};

class SnappingTest : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(QGuiApplication::screens().size(), 2)
            << "run with QT_QPA_PLATFORM=offscreen:configfile=" KORU_TWO_SCREENS;
        a = make("Spectrum A");
        b = make("Spectrum B");
        place(*a, {1100, 100});
        place(*b, {200, 100});
    }
    void TearDown() override { KeyboardModifierSource::setProvider(nullptr); }

    std::unique_ptr<TestInstrumentController> make(const QString& name) {
        auto c = KOInstrumentController::create<TestInstrumentController>("test", nullptr);
        c->setName(name);
        c->linkable = {"Frequency"};
        holdAlt(true);
        c->unhideInstrument();
        QApplication::processEvents();
        holdAlt(false);
        return c;
    }
    static void holdAlt(bool held) {
        KeyboardModifierSource::setProvider(
            [held] { return held ? Qt::AltModifier : Qt::NoModifier; });
    }
    static KOInstrumentWindow& window(TestInstrumentController& c) {
        return *qobject_cast<KOInstrumentWindow*>(c.instrumentWindow());
    }
    // Puts a window somewhere without snapping (as with Alt held).
    static void place(TestInstrumentController& c, QPointF bottomLeft) {
        holdAlt(true);
        ZOWindowAdditions::setBottomLeftCorner(window(c), bottomLeft);
        QApplication::processEvents();
        holdAlt(false);
    }
    // Moves it as a drag would: the move is reported and handled.
    static void drag(TestInstrumentController& c, QPointF bottomLeft) {
        ZOWindowAdditions::setBottomLeftCorner(window(c), bottomLeft);
        QApplication::processEvents();
    }
    static QRectF frame(TestInstrumentController& c) {
        return ZOWindowAdditions::yUpFrame(window(c));
    }

    FakeInstrumentDevice device{{"In 1"}};
    std::unique_ptr<TestInstrumentController> a;
    std::unique_ptr<TestInstrumentController> b;
};

TEST_F(SnappingTest, InstrumentWindowsSnapWithFifteenPointsOfTolerance) {
    KOInstrumentWindow& w = window(*a);
    EXPECT_TRUE(w.snapsToEdges());
    EXPECT_EQ(w.snapTolerance(), 15.0);
    EXPECT_EQ(w.padding(), 0.0);
    EXPECT_EQ(w.windowDelegate(), a.get());
    EXPECT_FALSE(w.snapping());
}

TEST_F(SnappingTest, DraggingBesideAWindowSnapsLinksAndTheNextDragUnlinks) {
    place(*b, {400, 300});
    const QRectF bFrame = frame(*b);
    UnlinkCounter unlinks;
    drag(*a, bFrame.topRight() + QPointF(10, -10)); // A's bottom-left near B's bottom-right

    EXPECT_EQ(frame(*a).topLeft(), bFrame.topRight()) << "right of B, bottoms aligned";
    EXPECT_EQ(frame(*b), bFrame) << "the other window stays";
    EXPECT_EQ(unlinks.posts, 1);
    EXPECT_EQ(unlinks.lastIdentifier, a->identifier());
    ASSERT_EQ(a->linkedParametersDictionary().size(), 1);
    EXPECT_EQ(a->linkedParametersDictionary().first().toMap().value("identifier"), b->identifier());
    EXPECT_EQ(b->linkedParametersDictionary().size(), 1);

    // A late report of the snap's own frame changes nothing.
    window(*a).windowMoved();
    EXPECT_EQ(unlinks.posts, 1);
    EXPECT_EQ(a->linkedParametersDictionary().size(), 1);

    drag(*a, {900, 700});
    EXPECT_EQ(frame(*a).topLeft(), QPointF(900, 700));
    EXPECT_EQ(unlinks.posts, 2);
    EXPECT_TRUE(a->linkedParametersDictionary().isEmpty());
    EXPECT_TRUE(b->linkedParametersDictionary().isEmpty());
}

TEST_F(SnappingTest, AltHeldNeitherSnapsNorUnlinks) {
    place(*b, {400, 300});
    drag(*a, frame(*b).topRight() + QPointF(5, 5));
    ASSERT_EQ(a->linkedParametersDictionary().size(), 1);
    UnlinkCounter unlinks;
    const QPointF nearAgain = frame(*b).topRight() + QPointF(8, 8);
    holdAlt(true);
    drag(*a, nearAgain);
    EXPECT_EQ(frame(*a).topLeft(), nearAgain);
    EXPECT_EQ(unlinks.posts, 0);
    EXPECT_EQ(a->linkedParametersDictionary().size(), 1);
}

TEST_F(SnappingTest, ExactlyFifteenPointsAwayStaysPut) {
    place(*b, {400, 300});
    const QPointF fifteen = frame(*b).topRight() + QPointF(15, 0);
    drag(*a, fifteen);
    EXPECT_EQ(frame(*a).topLeft(), fifteen);
    EXPECT_TRUE(a->linkedParametersDictionary().isEmpty());
}

TEST_F(SnappingTest, ScreenCornersOfBothScreensWorkAreas) {
    const QRectF first =
        ZOWindowAdditions::yUpRect(QRectF(QGuiApplication::primaryScreen()->availableGeometry()));
    const QRectF second =
        ZOWindowAdditions::yUpRect(QRectF(QGuiApplication::screens().at(1)->availableGeometry()));
    ASSERT_EQ(first, QRectF(0, 0, 1600, 1000));
    ASSERT_EQ(second, QRectF(1600, 0, 1280, 800)) << "the right screen's top is 200 lower";
    const QSizeF size = frame(*a).size();

    // top-left of the first screen
    drag(*a, QPointF(7, 1000 - size.height() - 9));
    EXPECT_EQ(frame(*a).topLeft(), QPointF(0, 1000 - size.height()));
    // top-right of the second, whose top lies lower
    drag(*a, QPointF(2880 - size.width() + 12, 800 - size.height() - 4));
    EXPECT_EQ(frame(*a).topLeft(), QPointF(2880 - size.width(), 800 - size.height()));
    EXPECT_EQ(window(*a).screen(), QGuiApplication::screens().at(1));
    // bottom-left of the second, beside the first
    drag(*a, QPointF(1610, 3));
    EXPECT_EQ(frame(*a).topLeft(), QPointF(1600, 0));
    EXPECT_TRUE(a->linkedParametersDictionary().isEmpty()) << "screens are never linked";
}

TEST_F(SnappingTest, AWindowCornerWinsOverAScreenCorner) {
    // B stands on the screen's bottom edge, 16 points further right than A is wide; A lands
    // near both B's bottom-left corner and the screen's bottom-left corner.
    const double width = frame(*a).width();
    place(*b, {width + 16, 5});
    drag(*a, {10, 8});
    EXPECT_EQ(frame(*a).topLeft(), QPointF(16, 5));
    EXPECT_EQ(a->linkedParametersDictionary().size(), 1);
}

TEST_F(SnappingTest, HiddenWindowsAreNoTargets) {
    place(*b, {400, 300});
    const QRectF bFrame = frame(*b);
    b->hideInstrument();
    drag(*a, bFrame.topRight() + QPointF(10, -10));
    EXPECT_EQ(frame(*a).topLeft(), bFrame.topRight() + QPointF(10, -10));
    EXPECT_TRUE(a->linkedParametersDictionary().isEmpty());
}

TEST_F(SnappingTest, AMoveTheWindowManagerUndoesIsHandledAgain) {
    place(*b, {400, 300});
    const QRectF bFrame = frame(*b);
    const QPointF near = bFrame.topRight() + QPointF(10, -10);
    drag(*a, near);
    ASSERT_EQ(frame(*a).topLeft(), bFrame.topRight());
    // The manager puts the window back where the user left it, and says so.
    place(*a, near);
    window(*a).windowMoved();
    EXPECT_EQ(frame(*a).topLeft(), bFrame.topRight());
    EXPECT_FALSE(window(*a).snapping());
}

TEST_F(SnappingTest, ResizingUnderAWindowTakesItsWidthAnimatedAndLinks) {
    place(*b, {400, 500});
    const QRectF bFrame = frame(*b);
    // A under B, its top corners near B's bottom corners once it is 30 points narrower.
    holdAlt(true);
    window(*a).resize(window(*b).width() - 30, window(*a).height());
    QApplication::processEvents();
    place(*a, QPointF(bFrame.left() + 4, bFrame.top() - frame(*a).height() + 5));
    UnlinkCounter unlinks;
    window(*a).resize(window(*a).width() + 20, window(*a).height());
    ASSERT_TRUE(window(*a).resizeAnimationRunning());
    EXPECT_EQ(unlinks.posts, 1);
    ASSERT_TRUE(koru::test::spinUntil([&] { return !window(*a).resizeAnimationRunning(); }));

    const QRectF aFrame = frame(*a);
    EXPECT_EQ(aFrame.width(), bFrame.width());
    EXPECT_EQ(QPointF(aFrame.left(), aFrame.top() + aFrame.height()), bFrame.topLeft());
    EXPECT_FALSE(window(*a).snapping());
    EXPECT_EQ(a->linkedParametersDictionary().size(), 1) << "equal widths link";
    EXPECT_EQ(unlinks.posts, 1) << "the animation's own resizes are not handled";
}

TEST_F(SnappingTest, DraggingTheBackgroundMovesAndSnaps) {
    place(*b, {400, 300});
    place(*a, {1000, 600});
    KOInstrumentWindow& w = window(*a);
    const QPoint grab = w.frameGeometry().topLeft() + QPoint(50, 40);
    const auto send = [&w](QEvent::Type type, QPoint global, Qt::MouseButtons buttons) {
        const QPointF local = w.mapFromGlobal(QPointF(global));
        QMouseEvent event(type, local, QPointF(global), Qt::LeftButton, buttons, Qt::NoModifier);
        QApplication::sendEvent(&w, &event);
        QApplication::processEvents();
    };
    send(QEvent::MouseButtonPress, grab, Qt::LeftButton);
    send(QEvent::MouseMove, grab + QPoint(-100, 30), Qt::LeftButton);
    EXPECT_EQ(frame(*a).topLeft(), QPointF(900, 570));
    // Now towards B's bottom-right corner, 7 points short.
    const QRectF bFrame = frame(*b);
    const QPointF offset = bFrame.topRight() + QPointF(7, 7) - frame(*a).topLeft();
    send(QEvent::MouseMove, grab + QPoint(-100, 30) + QPoint(int(offset.x()), -int(offset.y())),
         Qt::LeftButton);
    send(QEvent::MouseButtonRelease, grab, Qt::NoButton);
    EXPECT_EQ(frame(*a).topLeft(), bFrame.topRight());
    EXPECT_EQ(a->linkedParametersDictionary().size(), 1);
}

} // namespace
