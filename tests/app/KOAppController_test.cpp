#include "AppWorld.h"
#include "LogCapture.h"
#include "PreferencesTestSupport.h"
#include "ScriptedUiPrompter.h"

#include "app/InstrumentRegistry.h"
#include "app/KOGrowlNotificationCenter.h"
#include "app/KOPreferences.h"
#include "app/Session.h"
#include "app/ui/KOAppController.h"
#include "engine/EngineTestSupport.h"
#include "engine/KOAudioDevice.h"
#include "engine/ui/KOAuxFilePlayerWrapper.h"
#include "engine/ui/KOSignalGeneratorWrapper.h"
#include "netaudio/ui/KOAuxNetReceiveWrapper.h"
#include "platform/defaults/UserDefaults.h"
#include "platform/dispatch/SerialQueue.h"
#include "platform/paths/Paths.h"
#include "platform/plist/PropertyList.h"
#include "spl/KOCalibrationStore.h"

#include <QAction>
#include <QCoreApplication>
#include <QDir>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include <latch>
#include <memory>
#include <thread>

namespace {

using koru::Session;
using koru::Workspaces;
using koru::platform::UserDefaults;
using koru::test::ScopedScriptedPrompter;
using Response = koru::AlertPresenter::Response;

QStringList actionTitles(const QMenu* menu) {
    QStringList titles;
    for (const QAction* action : menu->actions())
        titles << action->text();
    return titles;
}

QStringList checkedTitles(const QMenu* menu) {
    QStringList titles;
    for (const QAction* action : menu->actions())
        if (action->isChecked())
            titles << action->text();
    return titles;
}

QAction* actionTitled(const QMenu* menu, const QString& title) {
    for (QAction* action : menu->actions())
        if (action->text() == title)
            return action;
    return nullptr;
}

// One account on which KORU is started, used and quit several times: its defaults file and
// application-support folder outlive each run, as they do on a real machine.
class AppControllerTest : public ::testing::Test {
protected:
    AppControllerTest() {
        koru::test::registerTestInstruments(registry);
        // Every test starts from an account that has never saved a session.
        QDir support(koru::platform::applicationSupportDirectory());
        for (const QString& name : support.entryList({"*.kosession*"}, QDir::Files))
            support.remove(name);
    }
    ~AppControllerTest() override {
        crash();
        if (device->getKOAD() && device->inSafeMode())
            device->getKOAD()->LeaveSafeMode();
        device->stop();
    }

    // Starts KORU: the controller, then (unless told not to) the start-up sequence.
    KOAppController& start(bool awake = true) {
        crash();
        defaults.reload();
        KOAppController::Services services;
        services.defaults = &defaults;
        services.preferences = &preferences;
        services.audioDevice = device.get();
        services.registry = &registry;
        services.backgroundQueue = &queue;
        services.calibrations = &calibrations;
        services.bus = QDBusConnection(QStringLiteral("no bus"));
        services.quit = [this] { ++quits; };
        app = std::make_unique<KOAppController>(std::move(services));
        if (awake)
            app->awakeFromNib();
        return *app;
    }
    // Ends the run without the quit sequence, as a crash or kill -9 would.
    void crash() {
        queue.waitUntilIdle();
        app.reset();
        koru::test::AppWorld::deleteClosed();
    }
    // The run's Quit command, then the process's end.
    void quit() {
        ASSERT_TRUE(app->terminate());
        crash();
    }

    QString sessionPath() const {
        return QDir(koru::platform::applicationSupportDirectory())
            .filePath(Session::sessionNameForUID(device->UID()));
    }
    QVariantMap sessionFile() const {
        const koru::SessionRead read = Session::readSessionFile(sessionPath());
        return read.dictionary.value_or(QVariantMap());
    }
    QString rememberedSessionID() const {
        return defaults.stringForKey(Session::kLastSessionIDDefault);
    }
    QStringList openNames() const {
        QStringList names;
        for (const auto& instrument : app->instrumentList().instruments())
            names << instrument->name();
        return names;
    }
    QStringList tableRows(const QTableView* table) const {
        QStringList rows;
        const QAbstractItemModel* model = table->model();
        for (int row = 0; row < model->rowCount(); ++row)
            rows << model->index(row, 0).data().toString();
        return rows;
    }
    KOInstrumentController* addMeter() {
        QAction* add = actionTitled(app->addInstrumentMenu(), "SPL Meter");
        if (!add)
            return nullptr;
        add->trigger();
        return app->instrumentList().instruments().back().get();
    }
    void close(KOInstrumentController* instrument) {
        instrument->instrumentWindow()->close();
        koru::test::AppWorld::deleteClosed();
    }

    ScopedScriptedPrompter prompter;
    UserDefaults defaults{koru::test::freshDefaultsPath("controller")};
    KOGrowlNotificationCenter notifications{std::make_unique<koru::test::DiscardingSink>(),
                                            defaults};
    KOPreferences preferences{defaults, notifications};
    std::unique_ptr<KOAudioDevice> device =
        std::make_unique<KOAudioDevice>(KOAudioDevice::Services{});
    koru::InstrumentRegistry registry;
    koru::platform::SerialQueue queue{"test background"};
    QTemporaryDir calibrationFolder;
    KOCalibrationStore calibrations{calibrationFolder.path()};
    std::unique_ptr<KOAppController> app;
    int quits = 0;
};

TEST_F(AppControllerTest, AFirstStartAsksNothingRemembersANewRunAndBuildsTheDisplayMenus) {
    koru::test::LogCapture log;
    KOAppController& controller = start();

    EXPECT_TRUE(prompter.prompter.alerts.empty());
    EXPECT_EQ(log.count("found last session"), 0);
    EXPECT_EQ(rememberedSessionID().size(), 36);
    EXPECT_TRUE(device->isRunning());
    EXPECT_EQ(log.count("Hi! Here is KORU "), 1);

    EXPECT_EQ(actionTitles(controller.frequencyDetailsSizeMenu()),
              QStringList({"Hidden", "", "10 pt", "12 pt", "14 pt", "18 pt", "24 pt"}));
    EXPECT_EQ(checkedTitles(controller.frequencyDetailsSizeMenu()), QStringList({"12 pt"}));
    actionTitled(controller.frequencyDetailsSizeMenu(), "Hidden")->trigger();
    EXPECT_EQ(checkedTitles(controller.frequencyDetailsSizeMenu()), QStringList({"Hidden"}));
    EXPECT_EQ(controller.getFrequencyDetailsSize(), 0);

    EXPECT_EQ(actionTitles(controller.distancesMenu()),
              QStringList({"meter", "feet", "msec", "samples"}));
    actionTitled(controller.distancesMenu(), "msec")->trigger();
    EXPECT_EQ(checkedTitles(controller.distancesMenu()), QStringList({"msec"}));
    EXPECT_EQ(controller.distanceFormat(), 2u);
    controller.changeDistanceFormat(0);

    // Only kinds that exist are offered.
    EXPECT_EQ(actionTitles(controller.addInstrumentMenu()), QStringList({"SPL Meter"}));
}

TEST_F(AppControllerTest, TheAudioMenuAddsTheVirtualInputsWithTheirWindows) {
    koru::AuxInputWrapperFactory generators;
    generators.create = [this] {
        KOSignalGeneratorWrapper::Options options;
        options.output = std::make_unique<koru::test::ManualOutput>(48000.0, true);
        options.defaults = &defaults;
        return std::make_unique<KOSignalGeneratorWrapper>(std::move(options));
    };
    device->setAuxInputWrapperFactory(koru::AuxInputKind::SignalGenerator, generators);
    KOAuxFilePlayerWrapper::Services playerServices;
    playerServices.output = [] {
        return std::make_unique<koru::test::ManualOutput>(48000.0, true);
    };
    device->setAuxInputWrapperFactory(koru::AuxInputKind::FilePlayer,
                                      KOAuxFilePlayerWrapper::factory(playerServices));
    KOAuxNetReceiveWrapper::Services receiverServices;
    receiverServices.output = [] {
        return std::make_unique<koru::test::ManualOutput>(48000.0, true);
    };
    device->setAuxInputWrapperFactory(koru::AuxInputKind::NetReceive,
                                      KOAuxNetReceiveWrapper::factory(receiverServices));
    KOAppController& controller = start();
    QMenu* audio = nullptr;
    for (QAction* item : controller.mainWindow()->menuBar()->actions())
        if (item->text() == QStringLiteral("Audio"))
            audio = item->menu();
    ASSERT_NE(audio, nullptr);

    struct Case {
        const char* title;
        std::function<koru::AuxInputWrapper*()> wrapper;
        std::function<void()> remove;
    };
    const Case cases[] = {
        {"Add Signal Generator", [this] { return device->signalGenerator(); },
         [this] { device->removeSignalGenerator(); }},
        {"Add File Player", [this] { return device->filePlayer(); },
         [this] { device->removeFilePlayer(); }},
        {"Add Net Receive", [this] { return device->netReceive(); },
         [this] { device->removeNetReceive(); }},
    };
    for (const Case& each : cases) {
        SCOPED_TRACE(each.title);
        const std::uint32_t channels = device->totalNumberChannels();
        QAction* add = actionTitled(audio, QString::fromUtf8(each.title));
        ASSERT_NE(add, nullptr);
        add->trigger();
        koru::AuxInputWrapper* wrapper = each.wrapper();
        ASSERT_NE(wrapper, nullptr);
        // The generator's window wrapper is a kind of its own, not an auxiliary-input wrapper.
        if (auto* generator = dynamic_cast<KOSignalGeneratorWrapper*>(wrapper))
            EXPECT_TRUE(generator->isWindowVisible());
        else
            EXPECT_TRUE(dynamic_cast<KOAuxInWrapper&>(*wrapper).isWindowVisible());
        EXPECT_EQ(device->totalNumberChannels(), channels + 2);
        // A second choice shows the same input again.
        add->trigger();
        EXPECT_EQ(each.wrapper(), wrapper);
        EXPECT_EQ(device->totalNumberChannels(), channels + 2);
        each.remove();
    }
}

TEST_F(AppControllerTest, AQuitWritesTheSessionThatTheNextStartRestoresWithoutAsking) {
    start();
    addMeter();
    addMeter();
    close(app->instrumentList().instruments().front().get());
    {
        koru::test::LogCapture log;
        quit();
        EXPECT_EQ(quits, 1);
        EXPECT_EQ(log.count("successfully saved the current session to " +
                            sessionPath().toStdString() + "\nSee you soon, KORU."),
                  1);
    }
    const QVariantMap file = sessionFile();
    EXPECT_EQ(file.value(Session::kSessionIDKey).toString(), rememberedSessionID());
    EXPECT_EQ(defaults.stringForKey(Session::kLastAudioDeviceUIDDefault), device->UID());
    EXPECT_FALSE(device->isRunning());

    koru::test::LogCapture log;
    start();
    EXPECT_TRUE(prompter.prompter.alerts.empty());
    EXPECT_EQ(openNames(), QStringList({"SPL Meter 2"}));
    EXPECT_EQ(tableRows(app->recentInstrumentsTable()), QStringList({"SPL Meter 1"}));
    EXPECT_EQ(log.count("found last session with UID " + device->UID().toStdString()), 1);
    EXPECT_EQ(log.count("I will try restore the last session from " +
                        Session::sessionNameForUID(device->UID()).toStdString() + "."),
              1);
    // Every start is a new run.
    EXPECT_NE(rememberedSessionID(), file.value(Session::kSessionIDKey).toString());
}

// What the start after a run asks and restores, by how that run ended.
struct EndOfRunCase {
    const char* name;
    bool crashed;         // the run ended without the quit sequence
    bool dropSessionID;   // the file lost its session ID
    Response answer;      // to "Inconsistent Session"
    bool loadLastSession; // the preference
    bool asked;
    bool restored;
};

void PrintTo(const EndOfRunCase& c, std::ostream* out) {
    *out << c.name;
}

class EndOfRun : public AppControllerTest, public ::testing::WithParamInterface<EndOfRunCase> {};

TEST_P(EndOfRun, DecidesTheQuestionAndTheRestore) {
    const EndOfRunCase& c = GetParam();
    start();
    addMeter();
    quit();
    if (c.crashed) {
        start(); // restores the meter, remembers a new run, then dies before any autosave
        crash();
    }
    if (c.dropSessionID) {
        QVariantMap file = sessionFile();
        file.remove(Session::kSessionIDKey);
        ASSERT_TRUE(koru::platform::PropertyList::write(sessionPath(), file,
                                                        koru::platform::PlistFormat::Xml));
    }
    preferences.setShouldLoadLastSession(c.loadLastSession);
    prompter.prompter.alerts.clear();
    prompter.prompter.alertAnswers = {c.answer};

    koru::test::LogCapture log;
    start();
    ASSERT_EQ(prompter.prompter.alerts.size(), c.asked ? 1u : 0u);
    if (c.asked) {
        const koru::Alert& alert = prompter.prompter.alerts.front();
        EXPECT_EQ(alert.messageText, "Inconsistent Session");
        EXPECT_EQ(alert.defaultButton, "Load");
        EXPECT_EQ(alert.alternateButton, "Do not load");
        EXPECT_EQ(alert.informativeText,
                  "KORU did not quit regulary. Do you want to try to load the last session file?");
        EXPECT_EQ(log.count("does not match session UID in preferences"), 1);
    }
    EXPECT_EQ(openNames(), c.restored ? QStringList({"SPL Meter 1"}) : QStringList());
}

INSTANTIATE_TEST_SUITE_P(
    Cases, EndOfRun,
    ::testing::Values(
        EndOfRunCase{"QuitRestoring", false, false, Response::Default, true, false, true},
        EndOfRunCase{"QuitNotRestoring", false, false, Response::Default, false, false, false},
        EndOfRunCase{"CrashLoad", true, false, Response::Default, true, true, true},
        EndOfRunCase{"CrashLoadNotRestoring", true, false, Response::Default, false, true, false},
        EndOfRunCase{"CrashDoNotLoad", true, false, Response::Alternate, true, true, false},
        EndOfRunCase{"NoSessionIDLoad", false, true, Response::Default, true, true, true}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(AppControllerTest, AutosaveWritesOnlyWithSomethingToSaveAndAQuitNeverLeavesItBehind) {
    start();
    app->autosave();
    queue.waitUntilIdle();
    EXPECT_FALSE(QFile::exists(sessionPath()));

    addMeter();
    app->autosave();
    queue.waitUntilIdle();
    EXPECT_EQ(sessionFile().value(Session::kSessionIDKey).toString(), rememberedSessionID());

    // An autosave still queued when the user quits: the quit's own write must come last, or the
    // file and the remembered run disagree and the next start asks about a crash.
    std::latch release(1);
    queue.async([&release] { release.wait(); });
    app->autosave();
    std::thread releaser([&release] { release.count_down(); });
    quit();
    releaser.join();
    EXPECT_EQ(sessionFile().value(Session::kSessionIDKey).toString(), rememberedSessionID());
}

// The calibration store is written at every autosave, even with nothing else to save, and at
// quit; what was written reads back.
TEST_F(AppControllerTest, AutosaveAndQuitSaveTheCalibrationStore) {
    start();
    calibrations.addCalibration(94.5f, QStringLiteral("Device"), QStringLiteral("uid"),
                                QStringLiteral("notes"));
    for (const char* when : {"autosave", "quit"}) {
        SCOPED_TRACE(when);
        ASSERT_TRUE(QFile::remove(calibrations.path()));
        if (QByteArray(when) == "autosave") {
            app->autosave();
            queue.waitUntilIdle();
        } else {
            quit();
        }
        ASSERT_TRUE(QFile::exists(calibrations.path()));
        KOCalibrationStore reread(calibrationFolder.path());
        ASSERT_EQ(reread.countOfCalibrations(), 1);
        EXPECT_EQ(reread.objectInCalibrationsAtIndex(0)->calibrationValue(), 94.5f);
    }
}

TEST_F(AppControllerTest, QuitIsRefusedWhileRecordingAndNothingIsSaved) {
    start();
    addMeter();
    device->getKOAD()->EnterSafeMode();
    EXPECT_FALSE(app->terminate());
    ASSERT_EQ(prompter.prompter.alerts.size(), 1u);
    EXPECT_EQ(prompter.prompter.alerts[0].messageText, "KORU is recording!");
    EXPECT_EQ(prompter.prompter.alerts[0].informativeText,
              "KORU is currently recording and can't quit!\nStop all recorders and try again");
    EXPECT_EQ(quits, 0);
    EXPECT_FALSE(QFile::exists(sessionPath()));
    EXPECT_TRUE(device->isRunning());

    device->getKOAD()->LeaveSafeMode();
    app->mainWindow()->close(); // the window's close button quits by the same path
    QCoreApplication::processEvents();
    EXPECT_EQ(quits, 1);
    EXPECT_TRUE(QFile::exists(sessionPath()));
}

// A SIGTERM while KORU starts (say, during the question about the last session) quits once the
// start is through, so the session it saves is the whole one.
TEST_F(AppControllerTest, AQuitAskedForDuringStartUpWaitsForItsEnd) {
    start(false);
    app->requestTermination();
    QCoreApplication::processEvents();
    EXPECT_EQ(quits, 0);
    EXPECT_FALSE(app->hasTerminated());

    app->awakeFromNib();
    QCoreApplication::processEvents();
    EXPECT_EQ(quits, 1);
    EXPECT_TRUE(QFile::exists(sessionPath()));
}

TEST_F(AppControllerTest, InstrumentsCloseIntoTheHistoryAndComeBackFromIt) {
    start();
    KOInstrumentController* first = addMeter();
    addMeter();
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(tableRows(app->currentInstrumentsTable()),
              QStringList({"SPL Meter 1", "SPL Meter 2"}));

    const QString identifier = first->identifier();
    close(first);
    EXPECT_EQ(openNames(), QStringList({"SPL Meter 2"}));
    EXPECT_EQ(tableRows(app->recentInstrumentsTable()), QStringList({"SPL Meter 1"}));
    // A new meter takes the free name.
    addMeter();
    EXPECT_EQ(openNames(), QStringList({"SPL Meter 2", "SPL Meter 1"}));
    close(app->instrumentList().instruments().back().get());

    // Restoring takes the entry out of the history; the other meter of that name stays there.
    app->restoreRecentInstrument(0);
    EXPECT_EQ(app->instrumentList().instruments().back()->identifier(), identifier);
    EXPECT_EQ(tableRows(app->recentInstrumentsTable()), QStringList({"SPL Meter 1"}));
    EXPECT_EQ(tableRows(app->currentInstrumentsTable()),
              QStringList({"SPL Meter 2", "SPL Meter 1"}));
}

TEST_F(AppControllerTest, SessionsSaveToAUserFileAndOpenFromIt) {
    start();
    addMeter();
    const QString path = koru::test::testRoot() + "/mix.kosession";
    prompter.prompter.panelAnswers = {path};
    app->saveDocument(); // no file yet: asks where
    ASSERT_EQ(prompter.prompter.savePanels.size(), 1u);
    EXPECT_EQ(app->session().fileName(), path);
    ASSERT_TRUE(Session::readSessionFile(path).dictionary.has_value());

    addMeter();
    close(app->instrumentList().instruments().front().get());
    app->saveDocument(); // now straight to the file
    EXPECT_EQ(prompter.prompter.savePanels.size(), 1u);

    app->revertDocumentToSaved();
    EXPECT_EQ(openNames(), QStringList({"SPL Meter 2"}));

    addMeter();
    // Without overwrite, the open instruments stay and the file's join them once.
    prompter.prompter.panelAnswers = {path};
    prompter.prompter.checkBoxAnswers = {{false, false}};
    app->openDocument();
    ASSERT_EQ(prompter.prompter.openPanels.size(), 1u);
    EXPECT_EQ(prompter.prompter.openPanels[0].checkBoxes.size(), 2u);
    EXPECT_EQ(openNames(), QStringList({"SPL Meter 2", "SPL Meter 1"}));

    // A broken file is an error to the user, and loads nothing.
    const QString broken = koru::test::testRoot() + "/broken.kosession";
    QFile file(broken);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("<?xml version=\"1.0\"?><plist><dict><key>KORU");
    file.close();
    prompter.prompter.panelAnswers = {broken};
    app->openDocument();
    ASSERT_EQ(prompter.prompter.alerts.size(), 1u);
    EXPECT_EQ(prompter.prompter.alerts[0].messageText, "The session could not be opened.");
    EXPECT_EQ(openNames(), QStringList({"SPL Meter 2", "SPL Meter 1"}));
}

TEST_F(AppControllerTest, TheMainWindowComesBackWhenNoOtherWindowIsLeft) {
    start();
    KOInstrumentController* meter = addMeter();
    app->closeMainWindow(); // as a session without a visible main window does
    QCoreApplication::processEvents();
    EXPECT_FALSE(app->mainWindow()->isVisible());
    close(meter);
    QCoreApplication::processEvents();
    EXPECT_TRUE(app->mainWindow()->isVisible());
}

// Workspace shortcuts reach KORU from an instrument window, also with the main window hidden,
// and stay on their own workspace when an earlier one is deleted.
TEST_F(AppControllerTest, WorkspacesAreRecalledByTheirShortcutFromAnInstrumentWindow) {
    start();
    const auto capture = [this](const QString& name, const QString& key) {
        app->workspaces().captureWorkspace(name, key, quint64(Qt::ControlModifier), 0);
        app->rebuildWorkspacesMenu();
    };
    addMeter();
    capture("One", "1");
    addMeter();
    capture("Two", "2");
    addMeter();
    capture("Three", "3");
    addMeter();
    ASSERT_EQ(openNames().size(), 4);

    const auto press = [this](Qt::Key key) {
        QMainWindow* window = app->instrumentList().instruments().back()->instrumentWindow();
        window->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(window));
        QTest::keyClick(window, key, Qt::ControlModifier);
        koru::test::AppWorld::deleteClosed();
        QCoreApplication::processEvents();
    };
    press(Qt::Key_1);
    EXPECT_EQ(openNames(), QStringList({"SPL Meter 1"}));
    EXPECT_EQ(app->session().currentWorkspace(), 0);

    app->workspaces().setWorkspace(std::nullopt, 0);
    app->rebuildWorkspacesMenu();
    app->closeMainWindow();
    press(Qt::Key_3);
    EXPECT_EQ(openNames(), QStringList({"SPL Meter 1", "SPL Meter 2", "SPL Meter 3"}));
    EXPECT_EQ(app->session().currentWorkspace(), 1);
    const QStringList menu = actionTitles(app->workspacesMenu());
    EXPECT_TRUE(menu.contains("Update Workspace \"Three\"")) << menu.join(", ").toStdString();
}

} // namespace
