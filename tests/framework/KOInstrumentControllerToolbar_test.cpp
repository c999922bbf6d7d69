#include "framework/ControlPopover.h"
#include "framework/KOInstrumentController.h"
#include "framework/ToolbarImages.h"

#include <QComboBox>
#include <QLabel>
#include <QMainWindow>
#include <QTest>
#include <QToolBar>
#include <QToolButton>
#include <QWidgetAction>

#include <gtest/gtest.h>

using koru::framework::ControlPopover;
using koru::framework::ToolbarImages;

namespace {

// An instrument with or without settings and pause button, recording what reaches its hooks.
class ToolbarInstrument : public KOInstrumentController {
public:
    ToolbarInstrument(bool withSettings, bool withPause)
        : mWithSettings(withSettings), mWithPause(withPause) {}

    bool drawPauseIcon() const override { return mWithPause; }
    void setPause(bool value) override {
        pauseCalls.push_back(value);
        KOInstrumentController::setPause(value);
    }
    void willShowControlPopover(QWidget* popover) override {
        ++popoverShows;
        lastPopover = popover;
    }

    QToolBar* toolbar() const {
        return instrumentWindow()->findChild<QToolBar*>(kToolbarIdentifier);
    }
    QToolButton* button(const char* identifier) const {
        return instrumentWindow()->findChild<QToolButton*>(identifier);
    }

    std::vector<bool> pauseCalls;
    int popoverShows = 0;
    QWidget* lastPopover = nullptr;
    QLabel* settings = nullptr;

protected:
    std::unique_ptr<QMainWindow> buildWindow(const QString&) override {
        auto window = std::make_unique<QMainWindow>();
        window->setCentralWidget(new QWidget(window.get()));
        window->resize(400, 300);
        if (mWithSettings) {
            settings = new QLabel("settings");
            setControlViewController(settings);
        }
        return window;
    }

private:
    bool mWithSettings;
    bool mWithPause;
};

std::unique_ptr<ToolbarInstrument> make(bool withSettings, bool withPause) {
    return KOInstrumentController::create<ToolbarInstrument>("Test", nullptr, withSettings,
                                                             withPause);
}

QStringList itemIdentifiers(const QToolBar* toolbar) {
    QStringList list;
    for (const QAction* item : toolbar->actions())
        list << item->objectName();
    return list;
}

bool sameImage(const QIcon& a, const QIcon& b) {
    return a.pixmap(16, 16).toImage() == b.pixmap(16, 16).toImage();
}

} // namespace

TEST(InstrumentToolbar, ItemsFollowWhatTheInstrumentOffers) {
    const QString space = KOInstrumentController::kFlexibleSpaceItemIdentifier;
    const QString settings = KOInstrumentController::kSettingsItemIdentifier;
    const QString pause = KOInstrumentController::kPauseItemIdentifier;
    const QString sticky = KOInstrumentController::kStickyItemIdentifier;
    struct Case {
        bool withSettings, withPause;
        QStringList expected;
    };
    const Case cases[] = {
        {false, false, {space, sticky}},
        {true, false, {space, settings, sticky}},
        {false, true, {space, pause, sticky}},
        {true, true, {space, settings, pause, sticky}},
    };
    for (const Case& c : cases) {
        auto instrument = make(c.withSettings, c.withPause);
        EXPECT_EQ(instrument->toolbarItemIdentifiers(), c.expected);
        EXPECT_EQ(instrument->toolbarAllowedItemIdentifiers(), c.expected);
        ASSERT_NE(instrument->toolbar(), nullptr);
        EXPECT_EQ(itemIdentifiers(instrument->toolbar()), c.expected);
    }
    auto instrument = make(true, true);
    QObject parent;
    EXPECT_EQ(instrument->toolbarItemForItemIdentifier("KOToolbarItemIdentifier_Other", &parent),
              nullptr);
    QAction* item = instrument->toolbarItemForItemIdentifier(pause, &parent);
    ASSERT_NE(item, nullptr);
    EXPECT_EQ(item->objectName(), pause);
    auto* button = qobject_cast<QToolButton*>(static_cast<QWidgetAction*>(item)->defaultWidget());
    ASSERT_NE(button, nullptr);
    EXPECT_EQ(button->size(), QSize(27, 25));
    EXPECT_TRUE(button->autoRaise());
    EXPECT_TRUE(button->text().isEmpty());
}

TEST(InstrumentToolbar, LockButtonAndStickyFlagMoveTogether) {
    auto instrument = make(false, false);
    instrument->instrumentWindow()->show();
    QToolButton* lock = instrument->button(KOInstrumentController::kStickyItemIdentifier);
    ASSERT_NE(lock, nullptr);
    EXPECT_TRUE(sameImage(lock->icon(), ToolbarImages::lockImage(false)));

    QTest::mouseClick(lock, Qt::LeftButton);
    EXPECT_TRUE(instrument->sticky());
    EXPECT_TRUE(lock->isChecked());
    EXPECT_TRUE(sameImage(lock->icon(), ToolbarImages::lockImage(true)));
    EXPECT_EQ(instrument->dictionaryRepresentation().value("instrument.noclose"), QVariant(true));

    instrument->setSticky(false); // from code, e.g. a restored dictionary
    EXPECT_FALSE(lock->isChecked());
    EXPECT_TRUE(sameImage(lock->icon(), ToolbarImages::lockImage(false)));
    EXPECT_FALSE(sameImage(ToolbarImages::lockImage(true), ToolbarImages::lockImage(false)));
}

TEST(InstrumentToolbar, PauseButtonGoesThroughTheInstrumentsSetter) {
    auto instrument = make(false, true);
    instrument->instrumentWindow()->show();
    QToolButton* pause = instrument->button(KOInstrumentController::kPauseItemIdentifier);
    ASSERT_NE(pause, nullptr);
    EXPECT_TRUE(sameImage(pause->icon(), ToolbarImages::pauseImage(false)));

    QTest::mouseClick(pause, Qt::LeftButton);
    EXPECT_EQ(instrument->pauseCalls, std::vector<bool>{true});
    EXPECT_TRUE(instrument->pause());
    EXPECT_TRUE(sameImage(pause->icon(), ToolbarImages::pauseImage(true)));

    instrument->setPause(false);
    EXPECT_FALSE(pause->isChecked());
    EXPECT_TRUE(sameImage(pause->icon(), ToolbarImages::pauseImage(false)));
    EXPECT_EQ(instrument->pauseCalls.size(), 2u) << "a flag set in code must not echo back";
    EXPECT_FALSE(sameImage(ToolbarImages::pauseImage(true), ToolbarImages::pauseImage(false)));
}

TEST(InstrumentToolbar, PauseImagesAreTintedTemplates) {
    for (const char* name : {"pause_go", "pause_goTemplate", "pause_pausedTemplate"})
        EXPECT_FALSE(ToolbarImages::imageNamed(name).isNull()) << name;
    EXPECT_TRUE(ToolbarImages::imageNamed("other").isNull());
    const QImage going = ToolbarImages::pauseImage(false).pixmap(32, 32).toImage();
    const QImage paused = ToolbarImages::pauseImage(true).pixmap(32, 32).toImage();
    const auto opaqueColour = [](const QImage& image) {
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x)
                if (qAlpha(image.pixel(x, y)) == 255)
                    return QColor(image.pixel(x, y));
        return QColor();
    };
    const auto near = [](const QColor& a, const QColor& b) {
        return std::abs(a.red() - b.red()) <= 1 && std::abs(a.green() - b.green()) <= 1 &&
               std::abs(a.blue() - b.blue()) <= 1;
    };
    EXPECT_TRUE(near(opaqueColour(going), QColor(51, 179, 230))) << "the interface blue";
    EXPECT_TRUE(near(opaqueColour(paused), QColor(204, 204, 204))) << "white 0.8";
    EXPECT_TRUE(ToolbarImages::transformer("KOPauseImageTrafoName"));
    EXPECT_TRUE(ToolbarImages::transformer("KOLockImageTrafoName"));
    EXPECT_FALSE(ToolbarImages::transformer("Other"));
}

namespace {

class Popover : public ::testing::Test {
protected:
    Popover() {
        window()->show();
        window()->activateWindow();
        EXPECT_TRUE(QTest::qWaitForWindowActive(window()));
    }
    QMainWindow* window() const { return instrument->instrumentWindow(); }
    QToolButton* settingsButton() const {
        return instrument->button(KOInstrumentController::kSettingsItemIdentifier);
    }
    std::unique_ptr<ToolbarInstrument> instrument = make(true, false);
};

} // namespace

TEST_F(Popover, SettingsButtonTogglesThePopoverBesideIt) {
    QToolButton* button = settingsButton();
    ASSERT_NE(button, nullptr);
    EXPECT_EQ(instrument->controlPopover(), nullptr) << "made on first use";

    QTest::mouseClick(button, Qt::LeftButton);
    ASSERT_TRUE(instrument->controlPanelVisible());
    auto* popover = qobject_cast<ControlPopover*>(instrument->controlPopover());
    ASSERT_NE(popover, nullptr);
    EXPECT_EQ(instrument->lastPopover, popover);
    EXPECT_EQ(instrument->popoverShows, 1);
    EXPECT_EQ(instrument->settings->parentWidget(), popover);
    EXPECT_TRUE(button->isChecked());
    const QPoint edge = button->mapToGlobal(QPoint(button->width(), button->height() / 2));
    EXPECT_EQ(popover->pos().x(), edge.x());
    EXPECT_NEAR(popover->pos().y() + popover->height() / 2, edge.y(), 1);

    QTest::mouseClick(button, Qt::LeftButton);
    EXPECT_FALSE(instrument->controlPanelVisible());
    EXPECT_FALSE(button->isChecked());

    QTest::mouseClick(button, Qt::LeftButton);
    EXPECT_TRUE(instrument->controlPanelVisible());
    EXPECT_EQ(instrument->controlPopover(), popover) << "one popover for the instrument's life";
    EXPECT_EQ(instrument->popoverShows, 2);
}

TEST_F(Popover, ToggleFromAClickWithoutViewHangsOffTheSettingsButton) {
    QObject event; // what a Ctrl-click in the plot passes: no view
    instrument->toggleControlPanelVisibility(&event);
    ASSERT_TRUE(instrument->controlPanelVisible());
    auto* popover = qobject_cast<ControlPopover*>(instrument->controlPopover());
    EXPECT_EQ(popover->anchorView(), settingsButton());
    instrument->toggleControlPanelVisibility(&event);
    EXPECT_FALSE(instrument->controlPanelVisible());
}

TEST_F(Popover, ClosesWithItsWindowAndOnPressesElsewhereInIt) {
    instrument->showControlPanel(settingsButton());
    ASSERT_TRUE(instrument->controlPanelVisible());
    instrument->closeControlPanel();
    EXPECT_FALSE(instrument->controlPanelVisible());

    instrument->showControlPanel(settingsButton());
    QTest::mousePress(window()->centralWidget(), Qt::LeftButton);
    EXPECT_FALSE(instrument->controlPanelVisible()) << "semi-transient: a press in the window";
    EXPECT_FALSE(settingsButton()->isChecked());

    instrument->showControlPanel(settingsButton());
    QWidget elsewhere;
    elsewhere.show();
    QTest::mousePress(&elsewhere, Qt::LeftButton);
    EXPECT_TRUE(instrument->controlPanelVisible()) << "other windows leave it open";
    QTest::mousePress(instrument->settings, Qt::LeftButton);
    EXPECT_TRUE(instrument->controlPanelVisible()) << "its own content leaves it open";

    QTest::keyClick(instrument->controlPopover(), Qt::Key_Escape);
    EXPECT_FALSE(instrument->controlPanelVisible());

    instrument->setControlPanelVisible(true);
    EXPECT_TRUE(instrument->controlPanelVisible());
    instrument->hideInstrument();
    EXPECT_FALSE(instrument->controlPanelVisible());
}

TEST(InstrumentToolbar, WithoutSettingsViewThereIsNoPopover) {
    auto instrument = make(false, false);
    instrument->showControlPanel(instrument->instrumentWindow()->centralWidget());
    instrument->setControlPanelVisible(true);
    EXPECT_FALSE(instrument->controlPanelVisible());
    EXPECT_EQ(instrument->controlPopover(), nullptr);
}
