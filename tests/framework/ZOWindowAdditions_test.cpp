#include "framework/KOFullscreenWindow.h"
#include "framework/ZOIconButton.h"
#include "framework/ZOWindowAdditions.h"

#include <QGuiApplication>
#include <QPainter>
#include <QPointer>
#include <QScreen>

#include <gtest/gtest.h>

namespace {

TEST(ZOWindowAdditions, CornersOfAYUpFrame) {
    const QRectF frame(100, 200, 300, 150);
    EXPECT_EQ(ZOWindowAdditions::bottomLeftCorner(frame), QPointF(100, 200));
    EXPECT_EQ(ZOWindowAdditions::bottomRightCorner(frame), QPointF(400, 200));
    EXPECT_EQ(ZOWindowAdditions::topLeftCorner(frame), QPointF(100, 350));
    EXPECT_EQ(ZOWindowAdditions::topRightCorner(frame), QPointF(400, 350));
    EXPECT_EQ(ZOWindowAdditions::originForTopRightCorner(frame, {500, 500}), QPointF(200, 350));
    EXPECT_EQ(ZOWindowAdditions::originForTopLeftCorner(frame, {500, 500}), QPointF(500, 350));
    EXPECT_EQ(ZOWindowAdditions::originForBottomRightCorner(frame, {500, 500}), QPointF(200, 500));
}

class WindowTest : public testing::Test {
protected:
    WindowTest() {
        window.setGeometry(100, 400, 300, 150); // room above to grow: no clamping onto the screen
        window.show();
        QCoreApplication::processEvents();
    }
    QWidget window;
};

TEST_F(WindowTest, CornerSettersMoveWithoutResizing) {
    using Setter = void (*)(QWidget&, QPointF);
    using Getter = QPointF (*)(const QWidget&);
    const std::pair<Setter, Getter> corners[] = {
        {ZOWindowAdditions::setBottomLeftCorner, ZOWindowAdditions::bottomLeftCorner},
        {ZOWindowAdditions::setBottomRightCorner, ZOWindowAdditions::bottomRightCorner},
        {ZOWindowAdditions::setTopLeftCorner, ZOWindowAdditions::topLeftCorner},
        {ZOWindowAdditions::setTopRightCorner, ZOWindowAdditions::topRightCorner}};
    const QSize size = window.size();
    for (auto [set, get] : corners) {
        set(window, QPointF(450, 500));
        QCoreApplication::processEvents();
        EXPECT_EQ(get(window), QPointF(450, 500));
        EXPECT_EQ(window.size(), size);
    }
    // y-up: a higher corner is nearer the top of the screen
    ZOWindowAdditions::setBottomLeftCorner(window, QPointF(100, 300));
    QCoreApplication::processEvents();
    const int screenBottom = QGuiApplication::primaryScreen()->geometry().bottom() + 1;
    EXPECT_EQ(window.frameGeometry().bottom() + 1, screenBottom - 300);
}

TEST_F(WindowTest, AdjustWidthStaysWithinTheLimits) {
    window.setMinimumWidth(120);
    window.setMaximumWidth(800);
    const QPointF origin = ZOWindowAdditions::bottomLeftCorner(window);
    ZOWindowAdditions::adjustWidth(window, 1000);
    EXPECT_EQ(window.width(), 800);
    ZOWindowAdditions::adjustWidth(window, -1000);
    EXPECT_EQ(window.width(), 120);
    ZOWindowAdditions::adjustWidth(window, 30.4);
    EXPECT_EQ(window.width(), 150);
    QCoreApplication::processEvents();
    EXPECT_EQ(ZOWindowAdditions::bottomLeftCorner(window), origin);
}

TEST_F(WindowTest, AdjustHeightKeepsTheBottomEdge) {
    window.setMinimumHeight(100);
    window.setMaximumHeight(400);
    const QPointF origin = ZOWindowAdditions::bottomLeftCorner(window);
    const QPointF top = ZOWindowAdditions::topLeftCorner(window);
    ZOWindowAdditions::adjustHeight(window, 50);
    QCoreApplication::processEvents();
    EXPECT_EQ(window.height(), 200);
    EXPECT_EQ(ZOWindowAdditions::bottomLeftCorner(window), origin);
    EXPECT_EQ(ZOWindowAdditions::topLeftCorner(window), top + QPointF(0, 50));
    ZOWindowAdditions::adjustHeight(window, 1000);
    QCoreApplication::processEvents();
    EXPECT_EQ(window.height(), 400);
    EXPECT_EQ(ZOWindowAdditions::bottomLeftCorner(window), origin);
    ZOWindowAdditions::adjustHeight(window, -1000);
    EXPECT_EQ(window.height(), 100);
}

TEST(KOFullscreenWindow, DarkBackdropThatLetsClicksThroughAndSurvivesClosing) {
    QPointer<KOFullscreenWindow> backdrop = new KOFullscreenWindow;
    const Qt::WindowFlags flags = backdrop->windowFlags();
    EXPECT_TRUE(flags.testFlag(Qt::FramelessWindowHint));
    EXPECT_TRUE(flags.testFlag(Qt::WindowTransparentForInput));
    EXPECT_TRUE(flags.testFlag(Qt::WindowDoesNotAcceptFocus));
    EXPECT_TRUE(flags.testFlag(Qt::WindowStaysOnBottomHint));
    EXPECT_EQ(backdrop->geometry(), QRect(0, 0, 10, 10));

    QScreen* screen = QGuiApplication::primaryScreen();
    backdrop->coverScreen(screen);
    backdrop->show();
    QCoreApplication::processEvents();
    EXPECT_EQ(backdrop->geometry(), screen->geometry());
    const QImage picture = backdrop->grab().toImage();
    EXPECT_EQ(picture.pixelColor(picture.width() / 2, picture.height() / 2).red(), 31);

    backdrop->close();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    ASSERT_FALSE(backdrop.isNull());
    EXPECT_FALSE(backdrop->isVisible());
    delete backdrop;
}

TEST(ZOIconButton, TwentyFourPointsAtItsPointGreyedWhilePressed) {
    QWidget parent;
    parent.resize(200, 100);
    QPixmap image(11, 11);
    image.fill(Qt::red);
    ZOIconButton button(QPointF(10, 20), QIcon(image), &parent);
    EXPECT_EQ(button.geometry(), QRect(10, 100 - 20 - 24, 24, 24)); // y-up point
    button.setIconSize(QSize(11, 11));
    const QColor normal = button.grab().toImage().pixelColor(12, 12);
    button.setDown(true);
    const QColor pressed = button.grab().toImage().pixelColor(12, 12);
    EXPECT_EQ(normal, QColor(Qt::red));
    EXPECT_LT(pressed.saturation(), normal.saturation());
    EXPECT_FALSE(button.autoFillBackground());
}

} // namespace
