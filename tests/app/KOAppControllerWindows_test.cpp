// The main window's tables, the current instrument's menu, the workspace windows, stepping through
// instrument windows and full screen, driven through the real controller with key and mouse
// events.
#include "AppWorld.h"
#include "PreferencesTestSupport.h"
#include "ScriptedUiPrompter.h"
#include "platform/ManualTimerClock.h"

#include "app/InstrumentRegistry.h"
#include "app/KOGrowlNotificationCenter.h"
#include "app/KOPreferences.h"
#include "app/Workspaces.h"
#include "app/ui/KOAppController.h"
#include "app/ui/KOInstrumentTables.h"
#include "app/ui/KOShortcutRecorder.h"
#include "app/ui/KOWindowNavigation.h"
#include "app/ui/KOWorkspaceEditor.h"
#include "engine/KOAudioDevice.h"
#include "framework/KOFullscreenWindow.h"
#include "platform/defaults/UserDefaults.h"
#include "platform/dispatch/SerialQueue.h"
#include "platform/paths/Paths.h"
#include "spl/KOSplDocuments.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDialogButtonBox>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QPointer>
#include <QPushButton>
#include <QScreen>
#include <QTableView>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <functional>
#include <future>
#include <memory>
#include <thread>

// A test instrument with a menu of its own, as the analysers have.
class KOMenuTestController : public KOTestMeterController {
    Q_OBJECT
public:
    QMenu* instrumentMenu() override {
        if (!mMenu) {
            mMenu = std::make_unique<QMenu>();
            mMenu->addAction(QStringLiteral("Reset"));
        }
        return mMenu.get();
    }

private:
    std::unique_ptr<QMenu> mMenu;
};

// A test instrument that answers as an SPL meter for the remote documents; its level is its
// offset.
class KOSplDocumentTestController : public KOTestMeterController, public KOSplMeterSource {
    Q_OBJECT
public:
    KOSplMeterSnapshot splMeterSnapshot() const override {
        KOSplMeterSnapshot snapshot;
        snapshot.weighting = 1633646452; // 'a_wt'
        snapshot.speed = 1936486263;     // 'slow'
        snapshot.spl = float(offset);
        snapshot.avgTime = 5.0;
        snapshot.leqDuration = 1800.0;
        return snapshot;
    }
};

namespace {

using koru::Workspaces;
using koru::platform::UserDefaults;

constexpr auto kCtrlShift = Qt::ControlModifier | Qt::ShiftModifier;

class AppWindowsTest : public ::testing::Test {
protected:
    AppWindowsTest() {
        koru::test::registerTestInstruments(registry);
        registry.registerInstrument<KOMenuTestController>(QStringLiteral("KOMenuTestController"),
                                                          QStringLiteral("test"));
        registry.registerInstrument<KOSplDocumentTestController>(
            QStringLiteral("KOSplDocumentTestController"), QStringLiteral("test"));
        registry.registerWindowCommand(QStringLiteral("Test Logs"), [this] { ++windowShown; });
        QDir support(koru::platform::applicationSupportDirectory());
        for (const QString& name : support.entryList({"*.kosession*"}, QDir::Files))
            support.remove(name);

        KOAppController::Services services;
        services.defaults = &defaults;
        services.preferences = &preferences;
        services.audioDevice = device.get();
        services.registry = &registry;
        services.backgroundQueue = &queue;
        services.bus = QDBusConnection(QStringLiteral("no bus"));
        services.quit = [] {};
        app = std::make_unique<KOAppController>(std::move(services));
        app->awakeFromNib();
    }
    ~AppWindowsTest() override {
        queue.waitUntilIdle();
        app.reset();
        koru::test::AppWorld::deleteClosed();
        device->stop();
    }

    KOInstrumentController* add(const QString& type = QStringLiteral("KOSplController")) {
        return app->addInstrument(type);
    }
    KOInstrumentController* instrument(int row) const {
        return app->instrumentList().instrumentAtIndex(row);
    }
    QStringList openNames() const {
        QStringList names;
        for (const auto& each : app->instrumentList().instruments())
            names << each->name();
        return names;
    }
    static QStringList column(const QTableView* table, int column = 0) {
        QStringList rows;
        const QAbstractItemModel* model = table->model();
        for (int row = 0; row < model->rowCount(); ++row)
            rows << model->index(row, column).data().toString();
        return rows;
    }
    static void activate(QWidget* window) {
        window->show();
        window->raise();
        window->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(window));
    }
    void settle() {
        koru::test::AppWorld::deleteClosed();
        QCoreApplication::processEvents();
    }
    // The menu bar's titles in order.
    QStringList menuBarTitles() const {
        QStringList titles;
        for (const QAction* item : app->mainWindow()->menuBar()->actions())
            titles << item->text();
        return titles;
    }
    // Runs `drive` on the modal window as soon as it shows; it must end the window.
    static void whenModal(std::function<void(QWidget*)> drive) {
        QTimer::singleShot(0, [drive = std::move(drive)] {
            QWidget* modal = QApplication::activeModalWidget();
            ASSERT_NE(modal, nullptr);
            EXPECT_TRUE(QTest::qWaitForWindowActive(modal));
            drive(modal);
        });
    }
    static void editCell(QTableView* table, int row, int column, const QString& text) {
        const QModelIndex index = table->model()->index(row, column);
        table->setFocus();
        table->setCurrentIndex(index);
        QTest::keyClick(table, Qt::Key_F2);
        QWidget* editor = QApplication::focusWidget();
        ASSERT_NE(qobject_cast<QLineEdit*>(editor), nullptr);
        qobject_cast<QLineEdit*>(editor)->selectAll();
        QTest::keyClicks(editor, text);
        QTest::keyClick(editor, Qt::Key_Return);
        // The delegate commits once the key event is over.
        QCoreApplication::processEvents();
    }
    static void record(KOShortcutRecorder* recorder, Qt::Key key, Qt::KeyboardModifiers mods) {
        QTest::mouseClick(recorder, Qt::LeftButton);
        ASSERT_TRUE(recorder->isRecording());
        QTest::keyClick(recorder, key, mods);
    }

    koru::test::ScopedScriptedPrompter prompter;
    UserDefaults defaults{koru::test::freshDefaultsPath("windows")};
    KOGrowlNotificationCenter notifications{std::make_unique<koru::test::DiscardingSink>(),
                                            defaults};
    KOPreferences preferences{defaults, notifications};
    std::unique_ptr<KOAudioDevice> device =
        std::make_unique<KOAudioDevice>(KOAudioDevice::Services{});
    koru::InstrumentRegistry registry;
    koru::platform::SerialQueue queue{"test background"};
    std::unique_ptr<KOAppController> app;
    int windowShown = 0;
};

// --- Tables --------------------------------------------------------------------------------------

TEST_F(AppWindowsTest, TheTablesRenameHideAndRestoreInstruments) {
    add();
    add();
    add();
    QTableView* open = app->currentInstrumentsTable();
    QTableView* history = app->recentInstrumentsTable();
    activate(app->mainWindow());

    // Renaming in the table renames the instrument and its window.
    editCell(open, 1, KOOpenInstrumentsModel::Title, "Front Left");
    EXPECT_EQ(openNames(), QStringList({"SPL Meter 1", "Front Left", "SPL Meter 3"}));
    EXPECT_EQ(instrument(1)->instrumentWindow()->windowTitle(), "Front Left");
    EXPECT_EQ(column(open), openNames());

    // Space on the "visible" cell unticks it: the window hides, the row stays.
    const auto toggleVisible = [&](int row) {
        open->setFocus();
        open->setCurrentIndex(open->model()->index(row, KOOpenInstrumentsModel::Visible));
        QTest::keyClick(open, Qt::Key_Space);
    };
    toggleVisible(0);
    EXPECT_FALSE(instrument(0)->instrumentWindow()->isVisible());
    EXPECT_EQ(open->model()->rowCount(), 3);
    EXPECT_EQ(open->model()->index(0, KOOpenInstrumentsModel::Visible).data(Qt::CheckStateRole),
              Qt::Unchecked);
    toggleVisible(0);
    EXPECT_TRUE(instrument(0)->instrumentWindow()->isVisible());
    EXPECT_EQ(open->model()->index(0, KOOpenInstrumentsModel::Visible).data(Qt::CheckStateRole),
              Qt::Checked);

    // Delete on the open table closes the selected instrument into the history ...
    open->setFocus();
    open->selectRow(2);
    QTest::keyClick(open, Qt::Key_Delete);
    settle();
    EXPECT_EQ(openNames(), QStringList({"SPL Meter 1", "Front Left"}));
    EXPECT_EQ(column(history), QStringList({"SPL Meter 3"}));

    // ... a double click on a history row restores it and takes it out of the history ...
    const QPoint firstRow = history->visualRect(history->model()->index(0, 0)).center();
    // The first click gives the table the focus, as a user's would.
    QTest::mouseClick(history->viewport(), Qt::LeftButton, {}, firstRow);
    QTest::mouseDClick(history->viewport(), Qt::LeftButton, {}, firstRow);
    settle();
    EXPECT_EQ(openNames(), QStringList({"SPL Meter 1", "Front Left", "SPL Meter 3"}));
    EXPECT_TRUE(column(history).isEmpty());
    EXPECT_EQ(column(open), openNames());

    // ... and Delete on the history removes the selected entry only.
    instrument(0)->instrumentWindow()->close();
    instrument(0)->instrumentWindow()->close();
    settle();
    ASSERT_EQ(column(history), QStringList({"SPL Meter 1", "Front Left"}));
    activate(app->mainWindow());
    // Editing a history title changes nothing.
    EXPECT_FALSE(history->model()->setData(history->model()->index(0, 0), "Renamed"));
    EXPECT_EQ(column(history), QStringList({"SPL Meter 1", "Front Left"}));
    history->setFocus();
    history->selectRow(1);
    QTest::keyClick(history, Qt::Key_Delete);
    EXPECT_EQ(column(history), QStringList({"SPL Meter 1"}));
    EXPECT_EQ(openNames(), QStringList({"SPL Meter 3"}));
}

// The Delete key only acts on the table that has the focus, in the active main window.
TEST_F(AppWindowsTest, DeleteActsOnlyOnTheFocusedTable) {
    struct Case {
        const char* name;
        std::function<QWidget*()> target;
        QStringList open;
        QStringList history;
    };
    const Case cases[] = {
        {"open table",
         [this] { return app->currentInstrumentsTable(); },
         {"SPL Meter 2"},
         {"SPL Meter 3", "SPL Meter 1"}},
        {"history table",
         [this] { return app->recentInstrumentsTable(); },
         {"SPL Meter 1", "SPL Meter 2"},
         {}},
        {"an instrument window",
         [this] { return instrument(1)->instrumentWindow(); },
         {"SPL Meter 1", "SPL Meter 2"},
         {"SPL Meter 3"}},
    };
    for (const Case& each : cases) {
        SCOPED_TRACE(each.name);
        // Two open, one in the history, the first row of each table selected.
        while (!app->instrumentList().instruments().empty())
            instrument(0)->instrumentWindow()->close();
        settle();
        app->instrumentList().clearRecentInstruments();
        add();
        add();
        add();
        instrument(2)->instrumentWindow()->close();
        settle();
        activate(app->mainWindow());
        app->currentInstrumentsTable()->selectRow(0);
        app->recentInstrumentsTable()->selectRow(0);

        QWidget* target = each.target();
        activate(target->window());
        target->setFocus();
        QTest::keyClick(target, Qt::Key_Delete);
        settle();
        EXPECT_EQ(openNames(), each.open);
        EXPECT_EQ(column(app->recentInstrumentsTable()), each.history);
    }
}

TEST_F(AppWindowsTest, RowsPastTheEndAnswerEmptyValuesAndActionsWithoutARowDoNothing) {
    add();
    KOInstrumentTables* tables = app->instrumentTables();
    const KOOpenInstrumentsModel& open = tables->openModel();
    EXPECT_EQ(open.objectValue(KOOpenInstrumentsModel::Title, 5).toString(), "");
    EXPECT_EQ(open.objectValue(KOOpenInstrumentsModel::Visible, 5).toBool(), false);
    EXPECT_FALSE(open.objectValue(KOOpenInstrumentsModel::Follow, 5).value<QIcon>().isNull());
    EXPECT_EQ(tables->historyModel().objectValue(0, 0).toString(), "");
    EXPECT_EQ(KOOpenInstrumentsModel::columnIdentifier(2), "follow");

    tables->currentInstrumentsTable()->clearSelection();
    tables->recentInstrumentsTable()->clearSelection();
    tables->removeActiveInstrument();
    tables->removeHistoryInstrument();
    tables->restoreRecentInstrumentFromTable();
    tables->followInstrument(7);
    settle();
    EXPECT_EQ(openNames(), QStringList({"SPL Meter 1"}));
}

// An instrument that cannot be restored from its entry stays in the history.
TEST_F(AppWindowsTest, AHistoryEntryThatFailsToRestoreStaysInTheHistory) {
    add();
    QVariantMap broken = instrument(0)->dictionaryRepresentation();
    broken.insert(QStringLiteral("test.rejects"), true);
    broken.insert(QStringLiteral("InstrumentController.Identifier"), QStringLiteral("other"));
    app->instrumentList().appendRecentInstrument(broken);
    app->reloadTables();
    activate(app->mainWindow());
    QTableView* history = app->recentInstrumentsTable();
    const QPoint row = history->visualRect(history->model()->index(0, 0)).center();
    QTest::mouseClick(history->viewport(), Qt::LeftButton, {}, row);
    QTest::mouseDClick(history->viewport(), Qt::LeftButton, {}, row);
    settle();
    EXPECT_EQ(column(history), QStringList({"SPL Meter 1"}));
    EXPECT_EQ(openNames(), QStringList({"SPL Meter 1"}));
    EXPECT_EQ(column(app->currentInstrumentsTable()), openNames());
}

TEST_F(AppWindowsTest, TheFollowCellBringsTheWindowToFrontEvenWhenHidden) {
    add();
    add();
    instrument(0)->hideInstrument();
    activate(app->mainWindow());
    QTableView* open = app->currentInstrumentsTable();
    const QModelIndex follow = open->model()->index(0, KOOpenInstrumentsModel::Follow);
    QTest::mouseClick(open->viewport(), Qt::LeftButton, {}, open->visualRect(follow).center());
    QMainWindow* window = instrument(0)->instrumentWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(window));
    EXPECT_TRUE(window->isVisible());
    EXPECT_EQ(open->model()->index(0, KOOpenInstrumentsModel::Visible).data(Qt::CheckStateRole),
              Qt::Checked);
}

// --- The current instrument's menu ---------------------------------------------------------------

TEST_F(AppWindowsTest, TheKeyInstrumentsMenuStandsAloneAtIndexFiveTitledWithItsName) {
    const QStringList ownMenus = menuBarTitles();
    KOInstrumentController* first = add(QStringLiteral("KOMenuTestController"));
    KOInstrumentController* second = add(QStringLiteral("KOMenuTestController"));
    first->setName(QStringLiteral("Left"));
    second->setName(QStringLiteral("Right"));

    activate(first->instrumentWindow());
    activate(second->instrumentWindow());
    QStringList expected = ownMenus;
    expected.insert(KOAppController::kInstrumentMenuIndex, QStringLiteral("Right"));
    EXPECT_EQ(menuBarTitles(), expected);
    EXPECT_EQ(app->instrumentList().currentInstrumentIndex(), 1);
    EXPECT_EQ(app->instrumentTables()->selectedOpenRow(), 1);
    EXPECT_EQ(app->currentInstrument(), second);

    // The menu bar is on the main window: going there to open the menu keeps it.
    activate(app->mainWindow());
    EXPECT_EQ(menuBarTitles(), expected);
    EXPECT_EQ(app->currentInstrument(), nullptr);

    // A rename shows in the menu bar at once.
    second->setName(QStringLiteral("Right Side"));
    expected[KOAppController::kInstrumentMenuIndex] = QStringLiteral("Right Side");
    EXPECT_EQ(menuBarTitles(), expected);

    // Hiding or closing the instrument takes its menu away.
    second->hideInstrument();
    EXPECT_EQ(menuBarTitles(), ownMenus);
    activate(first->instrumentWindow());
    expected[KOAppController::kInstrumentMenuIndex] = QStringLiteral("Left");
    EXPECT_EQ(menuBarTitles(), expected);
    first->instrumentWindow()->close();
    settle();
    EXPECT_EQ(menuBarTitles(), ownMenus);
}

// --- Shortcut recorder ---------------------------------------------------------------------------

TEST(ShortcutRecorderTest, KeyPressesRecordTheUnshiftedKey) {
    struct Case {
        int key;
        Qt::KeyboardModifiers modifiers;
        int keyCode;
        const char* characters;
    };
    const Case cases[] = {
        {Qt::Key_Exclam, kCtrlShift, Qt::Key_1, "1"}, // Ctrl+Shift+1 on a US keyboard
        {Qt::Key_1, kCtrlShift, Qt::Key_1, "1"},
        {Qt::Key_ParenRight, kCtrlShift, Qt::Key_0, "0"},
        {Qt::Key_Question, Qt::AltModifier | Qt::ShiftModifier, Qt::Key_Slash, "/"},
        {Qt::Key_A, kCtrlShift, Qt::Key_A, "a"},
        {Qt::Key_F5, Qt::ControlModifier, Qt::Key_F5, "F5"},
        {Qt::Key_5, Qt::ControlModifier | Qt::KeypadModifier, Qt::Key_5, "5"},
    };
    for (const Case& each : cases) {
        SCOPED_TRACE(each.characters);
        const auto shortcut = KORecordedShortcut::fromKeyEvent(each.key, each.modifiers);
        ASSERT_TRUE(shortcut);
        EXPECT_EQ(shortcut->keyCode, each.keyCode);
        EXPECT_EQ(shortcut->modifierFlags, quint64((each.modifiers & ~Qt::KeypadModifier).toInt()));
        EXPECT_EQ(shortcut->characters, each.characters);
        // What is stored makes a menu shortcut that fires on the key as it was reported.
        const QList<QKeySequence> menu =
            KORecordedShortcut::menuShortcuts(shortcut->characters, shortcut->modifierFlags);
        const auto reported =
            QKeySequence(QKeyCombination(each.modifiers & ~Qt::KeypadModifier, Qt::Key(each.key)));
        EXPECT_TRUE(menu.contains(reported)) << reported.toString().toStdString();
    }
    EXPECT_FALSE(KORecordedShortcut::fromKeyEvent(Qt::Key_Shift, kCtrlShift));
    EXPECT_TRUE(
        KORecordedShortcut::menuShortcuts(QString(), quint64(Qt::ControlModifier)).isEmpty());
}

TEST(ShortcutRecorderTest, TheRecorderTakesAShortcutClearsItAndIgnoresBareKeys) {
    KOShortcutRecorder recorder;
    recorder.show();
    int ended = 0;
    QObject::connect(&recorder, &KOShortcutRecorder::recordingEnded, [&] { ++ended; });
    EXPECT_EQ(recorder.keyCode(), 0);
    EXPECT_EQ(recorder.keyChars(), std::nullopt);

    QTest::mouseClick(&recorder, Qt::LeftButton);
    QTest::keyClick(&recorder, Qt::Key_X); // no modifier: would take over typing
    QTest::keyClick(&recorder, Qt::Key_X, Qt::ShiftModifier);
    EXPECT_EQ(ended, 0);
    QTest::keyClick(&recorder, Qt::Key_At, kCtrlShift);
    EXPECT_EQ(ended, 1);
    EXPECT_EQ(recorder.keyCode(), Qt::Key_2);
    EXPECT_EQ(recorder.keyChars(), "2");
    EXPECT_EQ(recorder.displayText(),
              QKeySequence("Ctrl+Shift+2").toString(QKeySequence::NativeText));

    // Escape leaves it as it was; Backspace clears it to "no key".
    QTest::mouseClick(&recorder, Qt::LeftButton);
    QTest::keyClick(&recorder, Qt::Key_Escape);
    EXPECT_EQ(recorder.keyCode(), Qt::Key_2);
    QTest::mouseClick(&recorder, Qt::LeftButton);
    QTest::keyClick(&recorder, Qt::Key_Backspace);
    EXPECT_EQ(ended, 2);
    EXPECT_EQ(recorder.keyCode(), -1);
    EXPECT_EQ(recorder.modifierFlags(), 0u);
    EXPECT_EQ(recorder.keyChars(), "");
}

// --- Workspace windows ---------------------------------------------------------------------------

// A workspace list of fields, for the editor alone.
class ListDataSource : public KOWorkspaceEditorDataSource {
public:
    qint64 numberOfWorkspaces() const override { return list.size(); }
    QVariantMap workspaceDictionaryAtIndex(qint64 index) const override { return list.at(index); }
    void setWorkspace(const std::optional<QVariantMap>& workspace, qint64 index) override {
        if (index < 0 || index >= list.size())
            return;
        if (workspace)
            list[index] = *workspace;
        else
            list.removeAt(index);
    }
    QList<QVariantMap> list;
};

TEST(WorkspaceEditorTest, EditsGoStraightToTheDataSource) {
    ListDataSource source;
    source.list = {
        {{"Workspace.Name", "Stage"},
         {"Workspace.Key", "1"},
         {"Workspace.Modifier", QVariant::fromValue<quint64>(quint64(Qt::ControlModifier))}},
        {{"Workspace.Name", "FOH"},
         {"Workspace.Key", "2"},
         {"Workspace.Modifier", QVariant::fromValue<quint64>(quint64(Qt::ControlModifier))},
         {"Workspace.KeyCode", Workspaces::storedKeyCode(Qt::Key_2)}},
    };
    KOWorkspaceEditor editor(source);
    editor.show();
    QTableView* table = editor.tableView();
    EXPECT_EQ(table->model()->index(1, KOWorkspaceTableModel::Key).data().toString(),
              QKeySequence("Ctrl+2").toString(QKeySequence::NativeText));

    // No key code stored: the recorder gets "no key", the cell the text of key code 0.
    editor.selectRow(0);
    EXPECT_EQ(editor.currentKeyCode(), -1);
    EXPECT_EQ(table->model()->index(0, KOWorkspaceTableModel::Key).data().toString(),
              KORecordedShortcut::readableString(quint64(Qt::ControlModifier), 0));
    editor.selectRow(1);
    EXPECT_EQ(editor.currentKeyCode(), Qt::Key_2);

    // A new shortcut writes the same three entries as the capture sheet would.
    QTest::mouseClick(editor.shortcutRecorder(), Qt::LeftButton);
    QTest::keyClick(editor.shortcutRecorder(), Qt::Key_Dollar, kCtrlShift);
    EXPECT_EQ(source.list[1].value("Workspace.Key").toString(), "4");
    EXPECT_EQ(source.list[1].value("Workspace.Modifier").toULongLong(),
              quint64(kCtrlShift.toInt()));
    EXPECT_EQ(Workspaces::keyCodeOf(source.list[1]), Qt::Key_4);
    EXPECT_EQ(editor.selectedRow(), 1);

    // Clearing it stores key code -1 as the all-ones number, which reads back as -1.
    QTest::mouseClick(editor.shortcutRecorder(), Qt::LeftButton);
    QTest::keyClick(editor.shortcutRecorder(), Qt::Key_Delete);
    EXPECT_EQ(source.list[1].value("Workspace.KeyCode").toULongLong(), ~quint64(0));
    EXPECT_EQ(Workspaces::keyCodeOf(source.list[1]), -1);
    EXPECT_EQ(source.list[1].value("Workspace.Key").toString(), "");

    // Names: an empty one is ignored; a value that is not a string is a programming error.
    QAbstractItemModel* model = table->model();
    EXPECT_TRUE(model->setData(model->index(0, 0), QStringLiteral("Monitors")));
    EXPECT_FALSE(model->setData(model->index(0, 0), QString()));
    EXPECT_EQ(source.list[0].value("Workspace.Name").toString(), "Monitors");
    EXPECT_THROW(model->setData(model->index(0, 0), 42), std::exception);

    // Without a selection, delete and record change nothing; deleting the last one empties it.
    editor.selectRow(-1);
    editor.deleteSelected();
    editor.shortcutRecorderDidEndRecording();
    EXPECT_EQ(source.list.size(), 2);
    for (int i = 0; i < 2; ++i) {
        editor.selectRow(0);
        editor.deleteSelected();
    }
    EXPECT_EQ(model->rowCount(), 0);
    EXPECT_TRUE(source.list.isEmpty());
}

TEST_F(AppWindowsTest, AWorkspaceCapturedAndEditedIsRecalledByItsShortcutFromAnInstrumentWindow) {
    add();
    app->workspaces().captureWorkspace("One", "", 0, -1);
    app->workspaces().captureWorkspace("Two", "", 0, -1);
    app->workspaces().captureWorkspace("Three", "", 0, -1);
    app->rebuildWorkspacesMenu();

    // The sheet offers "Workspace 4"; it is named and given Ctrl+Shift+1, which a US keyboard
    // reports as Ctrl+Shift+'!'.
    QString offered;
    whenModal([&](QWidget* modal) {
        auto* sheet = qobject_cast<KOCaptureWorkspaceController*>(modal);
        ASSERT_NE(sheet, nullptr);
        offered = sheet->nameField()->text();
        sheet->nameField()->selectAll();
        QTest::keyClicks(sheet->nameField(), "Drums");
        record(sheet->shortcutRecorder(), Qt::Key_Exclam, kCtrlShift);
        auto* buttons = sheet->findChild<QDialogButtonBox*>();
        QTest::mouseClick(buttons->button(QDialogButtonBox::Ok), Qt::LeftButton);
    });
    app->captureWorkspace();
    EXPECT_EQ(offered, "Workspace 4");
    ASSERT_EQ(app->workspaces().numberOfWorkspaces(), 4);
    const QVariantMap drums = app->workspaces().workspaceDictionaryAtIndex(3);
    EXPECT_EQ(drums.value("Workspace.Name").toString(), "Drums");
    EXPECT_EQ(drums.value("Workspace.Key").toString(), "1");
    EXPECT_EQ(drums.value("Workspace.Modifier").toULongLong(), quint64(kCtrlShift.toInt()));
    EXPECT_EQ(Workspaces::keyCodeOf(drums), Qt::Key_1);

    // A cancelled sheet stores nothing.
    whenModal([](QWidget* modal) { QTest::keyClick(modal, Qt::Key_Escape); });
    app->captureWorkspace();
    EXPECT_EQ(app->workspaces().numberOfWorkspaces(), 4);

    // The editor renames "One" and deletes "Two"; the key column shows the recorded shortcut.
    QString shownKey;
    whenModal([&](QWidget* modal) {
        auto* editor = qobject_cast<KOWorkspaceEditor*>(modal);
        ASSERT_NE(editor, nullptr);
        QTableView* table = editor->tableView();
        shownKey = table->model()->index(3, KOWorkspaceTableModel::Key).data().toString();
        editCell(table, 0, KOWorkspaceTableModel::Name, "Vocals");
        editor->selectRow(1);
        table->setFocus();
        QTest::keyClick(table, Qt::Key_Delete);
        editor->ok();
    });
    app->editWorkspaces();
    settle();
    EXPECT_EQ(shownKey, QKeySequence("Ctrl+Shift+1").toString(QKeySequence::NativeText));
    ASSERT_EQ(app->workspaces().numberOfWorkspaces(), 3);
    EXPECT_EQ(app->workspaces().workspaceDictionaryAtIndex(0).value("Workspace.Name"), "Vocals");
    EXPECT_EQ(app->workspaces().workspaceDictionaryAtIndex(2).value("Workspace.Name"), "Drums");

    // From an instrument window, both ways a keyboard may report the shortcut recall "Drums".
    for (const Qt::Key reported : {Qt::Key_Exclam, Qt::Key_1}) {
        SCOPED_TRACE(QKeySequence(reported).toString().toStdString());
        add();
        add();
        ASSERT_EQ(openNames().size(), 3);
        QMainWindow* window = app->instrumentList().instruments().back()->instrumentWindow();
        activate(window);
        QTest::keyClick(window, reported, kCtrlShift);
        settle();
        EXPECT_EQ(openNames(), QStringList({"SPL Meter 1"}));
        EXPECT_EQ(app->session().currentWorkspace(), 2);
    }
}

// --- Window navigation and full screen -----------------------------------------------------------

TEST_F(AppWindowsTest, NextAndPreviousStepThroughVisibleInstrumentWindows) {
    add()->setName(QStringLiteral("P"));
    add()->setName(QStringLiteral("Q"));
    add()->setName(QStringLiteral("R"));
    instrument(1)->hideInstrument();
    activate(instrument(0)->instrumentWindow());
    ASSERT_EQ(app->instrumentList().currentInstrumentIndex(), 0);

    const auto step = [&](bool next) {
        const QWidget* before = QApplication::activeWindow();
        if (next)
            app->switchToNextInstrument();
        else
            app->switchToPreviousInstrument();
        QWidget* active = nullptr;
        EXPECT_TRUE(QTest::qWaitFor([&] {
            active = QApplication::activeWindow();
            return active && active != before;
        }));
        for (const auto& each : app->instrumentList().instruments())
            if (each->instrumentWindow() == active)
                return each->name();
        return QStringLiteral("?");
    };
    EXPECT_EQ(step(true), "R");
    EXPECT_EQ(step(true), "P");
    EXPECT_EQ(step(false), "R");
    EXPECT_EQ(step(false), "P");
    EXPECT_EQ(app->instrumentList().currentInstrumentIndex(), 0);

    // With every window hidden nothing is brought forward.
    instrument(0)->hideInstrument();
    instrument(2)->hideInstrument();
    activate(app->mainWindow());
    app->switchToNextInstrument();
    app->switchToPreviousInstrument();
    QCoreApplication::processEvents();
    EXPECT_EQ(QApplication::activeWindow(), app->mainWindow());
}

TEST(WindowNavigationTest, TheNextWindowSkipsHiddenOnesRoundTheList) {
    using koru::windownavigation::instrumentToSwitchTo;
    struct Case {
        std::vector<bool> visible;
        qint64 current;
        int step;
        std::optional<std::size_t> expected;
    };
    const Case cases[] = {
        {{true, false, true}, 0, +1, 2},
        {{true, false, true}, 2, +1, 0},
        {{true, false, true}, 0, -1, 2},
        {{true, false, true}, 2, -1, 0},
        {{false, false, false}, 0, +1, std::nullopt},
        {{}, 0, +1, std::nullopt},
        {{true, true}, -1, +1, 0},
        {{true, true}, -1, -1, 1},
        // An index left over from instruments closed since starts from the nearest end.
        {{true, true}, 7, +1, 0},
        {{true, true}, 7, -1, 1},
        {{false, true, false}, 1, +1, 1},
    };
    for (const Case& each : cases) {
        SCOPED_TRACE(testing::Message() << each.current << " step " << each.step);
        EXPECT_EQ(instrumentToSwitchTo(each.visible, each.current, each.step), each.expected);
    }
}

TEST_F(AppWindowsTest, FullScreenPutsABackdropBehindTheWindowsAndLeavesThemAsTheyWere) {
    add();
    add();
    const auto flagsOf = [&] {
        std::vector<Qt::WindowFlags> flags{app->mainWindow()->windowFlags()};
        for (const auto& each : app->instrumentList().instruments())
            flags.push_back(each->instrumentWindow()->windowFlags());
        return flags;
    };
    const std::vector<Qt::WindowFlags> before = flagsOf();
    activate(app->mainWindow());

    for (int round = 0; round < 2; ++round) {
        SCOPED_TRACE(round);
        app->toggleFullscreenMode();
        ASSERT_TRUE(app->isInFullscreenMode());
        KOFullscreenWindow* backdrop = app->fullscreenWindow();
        ASSERT_NE(backdrop, nullptr);
        EXPECT_TRUE(backdrop->isVisible());
        EXPECT_EQ(backdrop->geometry(), app->mainWindow()->screen()->geometry());
        EXPECT_TRUE(backdrop->windowFlags().testFlag(Qt::WindowStaysOnBottomHint));
        // Every instrument window in front of it, the last one key.
        EXPECT_TRUE(QTest::qWaitForWindowActive(instrument(1)->instrumentWindow()));

        QPointer<KOFullscreenWindow> gone = backdrop;
        app->toggleFullscreenMode();
        EXPECT_FALSE(app->isInFullscreenMode());
        EXPECT_EQ(app->fullscreenWindow(), nullptr);
        EXPECT_TRUE(gone.isNull());
        EXPECT_EQ(flagsOf(), before);
    }

    // KORU going to the background takes the backdrop away and brings it back with it.
    app->enterFullScreenMode();
    app->applicationDidBecomeActive();
    app->applicationDidResignActive();
    EXPECT_FALSE(app->isInFullscreenMode());
    app->applicationDidBecomeActive();
    EXPECT_TRUE(app->isInFullscreenMode());
    app->exitFullScreenMode();
}

// The guide is opened from the private folder, never from a name in the shared temporary folder.
TEST_F(AppWindowsTest, TheUserGuideOpensFromThePrivateFolder) {
    app->showUserManual();
    queue.waitUntilIdle();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !prompter.prompter.openedUrls.empty(); }));
    const QString opened = prompter.prompter.openedUrls.front().toLocalFile();
    EXPECT_EQ(opened, koru::platform::privateTemporaryDirectory() + "/koru_user_guide.pdf");
    QFile copy(opened);
    ASSERT_TRUE(copy.open(QIODevice::ReadOnly));
    EXPECT_TRUE(copy.readAll().startsWith("%PDF-"));
}

// Subsystems' windows (the SPL logs) stand in the Window menu and open from it.
TEST_F(AppWindowsTest, TheWindowMenuOpensTheSubsystemsWindows) {
    QMenu* window = nullptr;
    for (QAction* item : app->mainWindow()->menuBar()->actions())
        if (item->text() == QStringLiteral("Window"))
            window = item->menu();
    ASSERT_NE(window, nullptr);
    QAction* logs = nullptr;
    for (QAction* item : window->actions())
        if (item->text() == QStringLiteral("Test Logs"))
            logs = item;
    ASSERT_NE(logs, nullptr);
    logs->trigger();
    EXPECT_EQ(windowShown, 1);
}

// The remote server's documents are asked for from the link's own thread: the open instruments
// are copied on the main thread, in window order, and only SPL meters answer.
TEST_F(AppWindowsTest, SplDocumentsAreBuiltForCallersOnAnyThread) {
    auto* stage = static_cast<KOTestMeterController*>(add("KOSplDocumentTestController"));
    stage->setName(QStringLiteral("Stage"));
    stage->offset = 91.3;
    add("KOTestMeterController")->setName(QStringLiteral("FFT"));
    add("KOSplDocumentTestController")->setName(QStringLiteral("Desk"));
    app->setSplDocumentClock([] { return 818676000.0; });

    struct Answers {
        std::optional<QByteArray> list;
        std::optional<QByteArray> stage;
        std::optional<QByteArray> fft;
        std::optional<QByteArray> log;
    };
    const auto ask = [this] {
        return Answers{app->splControllers(), app->splDataDictionaryFromInstrument("Stage"),
                       app->splDataDictionaryFromInstrument("FFT"),
                       app->splLogDataWithParameters({{"instrumentName", "Desk"}})};
    };
    const auto askFromLink = [&ask] {
        std::packaged_task<Answers()> task(ask);
        std::future<Answers> fromLink = task.get_future();
        std::thread link(std::move(task));
        // The copies are queued to this thread: run its events until the link has its answers.
        while (fromLink.wait_for(std::chrono::seconds(0)) != std::future_status::ready)
            QCoreApplication::processEvents(QEventLoop::AllEvents);
        link.join();
        return fromLink.get();
    };
    koru::test::ManualTimerClock clock;
    app->setSplSnapshotClock(clock);

    for (const Answers& answers : {askFromLink(), ask()}) {
        ASSERT_TRUE(answers.list);
        const QString list = QString::fromUtf8(*answers.list);
        EXPECT_TRUE(list.contains(QStringLiteral(">Stage</instrument><instrument id=\"%1\">Desk<")
                                      .arg(instrument(2)->identifier())))
            << list.toStdString();
        EXPECT_FALSE(list.contains(QStringLiteral("FFT")));
        ASSERT_TRUE(answers.stage);
        EXPECT_TRUE(answers.stage->contains("<spl unit=\"dB(A)\">91.3</spl>"))
            << answers.stage->toStdString();
        EXPECT_TRUE(answers.stage->contains(instrument(0)->identifier().toUtf8()));
        EXPECT_FALSE(answers.fft);
        ASSERT_TRUE(answers.log);
        EXPECT_FALSE(answers.log->contains("<log "));
    }

    // A flood of requests costs the interface one copy per reuse period: a change shows on the
    // main thread at once, on the link's thread once the period has passed.
    stage->offset = 95.0;
    EXPECT_TRUE(askFromLink().stage->contains(">91.3</spl>"));
    EXPECT_TRUE(ask().stage->contains(">95.0</spl>"));
    clock.advance(KOAppController::kSplSnapshotReuse);
    EXPECT_TRUE(askFromLink().stage->contains(">95.0</spl>"));
}

} // namespace

#include "KOAppControllerWindows_test.moc"
