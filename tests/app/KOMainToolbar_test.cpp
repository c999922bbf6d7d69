#include "AppWorld.h"
#include "AudioSettingsWindowTestSupport.h"

#include "app/ui/KOMainToolbar.h"
#include "app/ui/KOToolbarCustomizationDialog.h"
#include "zotools/ui/ZOAudioDeviceMenu.h"

#include <QAction>
#include <QListWidget>
#include <QMainWindow>
#include <QMenu>
#include <QPushButton>
#include <QTest>
#include <QToolButton>

#include <gtest/gtest.h>

namespace {

using koru::platform::UserDefaults;

QStringList defaultItems() {
    return {"Add Instrument", KOMainToolbar::kFlexibleSpaceItem, "Audio Settings",
            KOMainToolbar::kCustomizeItem};
}

// The toolbar alone, its actions recorded.
class ToolbarTest : public ::testing::Test {
protected:
    std::unique_ptr<KOMainToolbar> make() {
        KOMainToolbar::Actions actions;
        actions.addInstrument = [this](const QString& type) { added << type; };
        actions.offersInstrument = [this](const QString& type) { return !missing.contains(type); };
        actions.showAudioSettingsWindow = [this] { ++settingsShown; };
        actions.addInstrumentMenu = &addMenu;
        actions.audioSettingsMenu = &audioMenu;
        auto toolbar = std::make_unique<KOMainToolbar>(std::move(actions), defaults);
        toolbar->show();
        return toolbar;
    }
    static void click(KOMainToolbar& toolbar, const QString& identifier) {
        QAction* item = toolbar.itemWithIdentifier(identifier);
        ASSERT_NE(item, nullptr) << identifier.toStdString();
        QWidget* button = toolbar.widgetForAction(item);
        ASSERT_NE(button, nullptr) << identifier.toStdString();
        QTest::mouseClick(button, Qt::LeftButton);
    }

    UserDefaults defaults{koru::test::freshDefaultsPath("toolbar")};
    QMenu addMenu{QStringLiteral("Instruments")};
    QMenu audioMenu{QStringLiteral("Audio Settings")};
    QStringList added;
    QStringList missing;
    int settingsShown = 0;
};

TEST_F(ToolbarTest, AFreshInstallationShowsTheDefaultItemsSmallAndWithoutLabels) {
    addMenu.addAction(QStringLiteral("Spectrum Analyser"));
    auto toolbar = make();
    EXPECT_EQ(toolbar->objectName(), QStringLiteral("mainWindowToolbar"));
    EXPECT_EQ(toolbar->itemIdentifiers(), defaultItems());
    EXPECT_EQ(toolbar->toolButtonStyle(), Qt::ToolButtonIconOnly);
    EXPECT_EQ(KOMainToolbar::allowedItemIdentifiers().size(), 15);
    EXPECT_FALSE(KOMainToolbar::allowedItemIdentifiers().contains("SPL Meter"));

    // The two pop-ups carry the application's menus.
    auto* add = qobject_cast<QToolButton*>(
        toolbar->widgetForAction(toolbar->itemWithIdentifier("Add Instrument")));
    ASSERT_NE(add, nullptr);
    EXPECT_EQ(add->menu(), &addMenu);
    EXPECT_FALSE(add->icon().isNull());
    auto* audio = qobject_cast<QToolButton*>(
        toolbar->widgetForAction(toolbar->itemWithIdentifier("Audio Settings")));
    ASSERT_NE(audio, nullptr);
    EXPECT_EQ(audio->menu(), &audioMenu);

    // Items are made anew for each request.
    QAction* first = toolbar->itemForItemIdentifier("Analyzer");
    QAction* second = toolbar->itemForItemIdentifier("Analyzer");
    EXPECT_NE(first, second);
    EXPECT_EQ(first->text(), QStringLiteral("Analyzer"));
    // An identifier the toolbar does not know is a label and nothing else.
    QAction* unknown = toolbar->itemForItemIdentifier("Tea Maker");
    EXPECT_EQ(unknown->text(), QStringLiteral("Tea Maker"));
    EXPECT_FALSE(unknown->isEnabled());
}

TEST_F(ToolbarTest, EachItemDoesWhatItsTitleSays) {
    missing = {"KONetSendController"};
    auto toolbar = make();
    toolbar->setItemIdentifiers(KOMainToolbar::allowedItemIdentifiers());
    struct Case {
        const char* identifier;
        const char* type; // null: not an instrument
    };
    const Case cases[] = {
        {"Analyzer", "KOFFTController"},
        {"Transfer", "KOTransferController"},
        {"Goniometer", "KOGoniometerController"},
        {"Spectral History", "KOSpectralHistoryController"},
        {"Input Meter", "KODeviceInPPMController"},
        {"Recorder", "KORecorderController"},
        {"Level History", "KOLevelHistoryController"},
        {"Oscilloscope", "KOOscilloscopeController"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.identifier);
        added.clear();
        click(*toolbar, c.identifier);
        EXPECT_EQ(added, QStringList({c.type}));
        EXPECT_FALSE(toolbar->itemWithIdentifier(c.identifier)->icon().isNull());
    }
    // A kind this program lacks is shown but cannot be clicked.
    added.clear();
    EXPECT_FALSE(toolbar->itemWithIdentifier("Net Send")->isEnabled());
    click(*toolbar, "Net Send");
    EXPECT_TRUE(added.isEmpty());

    click(*toolbar, "Audio Settings Window");
    EXPECT_EQ(settingsShown, 1);
    EXPECT_TRUE(added.isEmpty());
}

// The user's arrangement, made in the dialog, is what the next start shows; a damaged one
// loses only what cannot be shown.
TEST_F(ToolbarTest, TheArrangementMadeInTheDialogIsKeptForTheNextStart) {
    auto toolbar = make();
    KOToolbarCustomizationDialog dialog(KOMainToolbar::allowedItemIdentifiers(), defaultItems(),
                                        toolbar->itemIdentifiers(),
                                        [](const QString& id) { return id; });
    const auto pick = [&](QListWidget* list, const QString& identifier) {
        for (int row = 0; row < list->count(); ++row)
            if (list->item(row)->data(Qt::UserRole).toString() == identifier)
                list->setCurrentRow(row);
    };
    // Analyzer after "Add Instrument", twice (kept once), a second flexible space at the end,
    // the customise item removed, then Analyzer moved to the front.
    pick(dialog.chosenList(), "Add Instrument");
    pick(dialog.allowedList(), "Analyzer");
    QTest::mouseClick(dialog.addButton(), Qt::LeftButton);
    QTest::mouseClick(dialog.addButton(), Qt::LeftButton);
    dialog.chosenList()->setCurrentRow(-1);
    pick(dialog.allowedList(), KOMainToolbar::kFlexibleSpaceItem);
    dialog.chosenList()->setCurrentRow(dialog.chosenList()->count() - 1);
    QTest::mouseClick(dialog.addButton(), Qt::LeftButton);
    pick(dialog.chosenList(), KOMainToolbar::kCustomizeItem);
    QTest::mouseClick(dialog.removeButton(), Qt::LeftButton);
    pick(dialog.chosenList(), "Analyzer");
    QTest::mouseClick(dialog.upButton(), Qt::LeftButton);
    QTest::mouseClick(dialog.upButton(), Qt::LeftButton); // already first
    const QStringList arranged = {"Analyzer", "Add Instrument", KOMainToolbar::kFlexibleSpaceItem,
                                  "Audio Settings", KOMainToolbar::kFlexibleSpaceItem};
    ASSERT_EQ(dialog.identifiers(), arranged);
    toolbar->setItemIdentifiers(dialog.identifiers());
    EXPECT_EQ(toolbar->itemIdentifiers(), arranged);

    // The next start reads it from the file.
    toolbar.reset();
    defaults.reload();
    EXPECT_EQ(make()->itemIdentifiers(), arranged);

    QTest::mouseClick(dialog.defaultsButton(), Qt::LeftButton);
    EXPECT_EQ(dialog.identifiers(), defaultItems());

    struct Case {
        const char* what;
        QVariant stored;
        QStringList shown;
    };
    const Case cases[] = {
        {"unknown and repeated items",
         QVariantList{"Analyzer", "Tea Maker", "Analyzer", KOMainToolbar::kSpaceItem,
                      KOMainToolbar::kSpaceItem},
         {"Analyzer", KOMainToolbar::kSpaceItem, KOMainToolbar::kSpaceItem}},
        {"an empty toolbar", QVariantList{}, {}},
        {"not a list", QVariant(QStringLiteral("Analyzer")), defaultItems()},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        defaults.setObject(KOMainToolbar::kArrangementKey, c.stored);
        EXPECT_EQ(make()->itemIdentifiers(), c.shown);
    }
}

// In the program: the toolbar stands on the main window, "Analyzer" opens an analyser as the
// menu does, and the audio-settings pop-up carries the device menu and the window.
TEST(MainWindowToolbar, StandsOnTheMainWindowAndActsAsTheMenusDo) {
    koru::test::AudioSettingsApp world(QStringLiteral("toolbar-app"));
    world.registry.registerInstrument<KOTestMeterController>(QStringLiteral("KOFFTController"),
                                                             QStringLiteral("test"));
    KOAppController& app = world.start();
    world.app->audioSettingsWindow()->hide();
    KOMainToolbar* toolbar = app.mainToolbar();
    ASSERT_NE(toolbar, nullptr);
    EXPECT_EQ(toolbar->parentWidget(), app.mainWindow());
    EXPECT_EQ(app.mainWindow()->toolBarArea(toolbar), Qt::TopToolBarArea);
    EXPECT_EQ(toolbar->itemIdentifiers(), defaultItems());

    QMenu* audio = app.audioSettingsToolbarMenu();
    auto* devices = dynamic_cast<ZOAudioDeviceMenu*>(audio->actions().value(0)->menu());
    ASSERT_NE(devices, nullptr);
    EXPECT_EQ(audio->actions().value(0)->text(), QStringLiteral("Audio Device"));
    EXPECT_EQ(devices->checkedDeviceID(), world.device->audioObjectID());
    audio->actions().value(1)->trigger();
    EXPECT_TRUE(app.audioSettingsWindow()->isVisible());

    toolbar->setItemIdentifiers({"Analyzer"});
    QTest::mouseClick(toolbar->widgetForAction(toolbar->itemWithIdentifier("Analyzer")),
                      Qt::LeftButton);
    ASSERT_EQ(app.instrumentList().instruments().size(), 1u);
    for (QAction* item : app.addInstrumentMenu()->actions())
        if (item->text() == QStringLiteral("Spectrum Analyser"))
            item->trigger();
    ASSERT_EQ(app.instrumentList().instruments().size(), 2u);
    const auto& instruments = app.instrumentList().instruments();
    // Both made the same way: shown.
    for (const auto& instrument : instruments)
        EXPECT_TRUE(instrument->instrumentWindow()->isVisible());
    // Closing takes an instrument out of the list.
    std::vector<QMainWindow*> windows;
    for (const auto& instrument : instruments)
        windows.push_back(instrument->instrumentWindow());
    for (QMainWindow* window : windows)
        window->close();
    koru::test::AppWorld::deleteClosed();
}

} // namespace
