#include "RecorderTestSupport.h"

#include "app/InstrumentRegistry.h"
#include "app/KOGrowlNotificationCenter.h"
#include "app/KOPreferences.h"
#include "app/PreferencesTestSupport.h"
#include "app/ScriptedUiPrompter.h"
#include "app/ui/KOAppController.h"
#include "meters/ui/KORecorderController.h"
#include "meters/ui/MeterInstruments.h"
#include "platform/defaults/UserDefaults.h"
#include "platform/dispatch/SerialQueue.h"

#include <QAction>
#include <QDBusConnection>
#include <QMenu>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>

#include <gtest/gtest.h>

namespace {

// Quitting is refused while a real recorder records, whatever asks: the Quit command, the main
// window's close button; once it has stopped, the program quits.
TEST(RecorderQuit, TheProgramRefusesToQuitWhileARecorderRecords) {
    koru::test::RecorderInput::shared();
    koru::test::ScopedScriptedPrompter prompter;
    koru::test::ListedRecordings listed;
    QTemporaryDir folder;
    koru::platform::UserDefaults defaults{koru::test::freshDefaultsPath("quit")};
    KOGrowlNotificationCenter notifications{std::make_unique<koru::test::DiscardingSink>(),
                                            defaults};
    KOPreferences preferences{defaults, notifications};
    koru::InstrumentRegistry registry;
    koru::registerMeterInstruments(registry);
    KORecorderController::setRecordingsList(&listed); // in place of the program's list
    koru::platform::SerialQueue queue{"recorder quit"};
    int quits = 0;
    KOAppController::Services services;
    services.defaults = &defaults;
    services.preferences = &preferences;
    services.audioDevice = &KOAudioDevice::sharedAudioDevice();
    services.registry = &registry;
    services.backgroundQueue = &queue;
    services.bus = QDBusConnection(QStringLiteral("no bus"));
    services.quit = [&quits] { ++quits; };
    auto app = std::make_unique<KOAppController>(std::move(services));

    QAction* add = nullptr;
    for (QAction* action : app->addInstrumentMenu()->actions())
        if (action->text() == QStringLiteral("Recorder"))
            add = action;
    ASSERT_NE(add, nullptr) << "the recorder is offered with the other instruments";
    add->trigger();
    auto* recorder =
        dynamic_cast<KORecorderController*>(app->instrumentList().instruments().back().get());
    ASSERT_NE(recorder, nullptr);

    prompter.prompter.panelAnswers.push_back(folder.filePath(QStringLiteral("quit")));
    QTest::mouseClick(recorder->recordButton(), Qt::LeftButton);
    ASSERT_TRUE(recorder->isRecording());
    koru::test::RecorderInput::shared().pump(2);

    for (const char* how : {"Quit command", "main window closed"}) {
        SCOPED_TRACE(how);
        prompter.prompter.alerts.clear();
        if (QString(how) == QLatin1String("Quit command")) {
            EXPECT_FALSE(app->terminate());
        } else {
            app->mainWindow()->close();
            QCoreApplication::processEvents();
        }
        ASSERT_EQ(prompter.prompter.alerts.size(), 1u);
        EXPECT_EQ(prompter.prompter.alerts[0].messageText, QStringLiteral("KORU is recording!"));
        EXPECT_EQ(quits, 0);
        EXPECT_TRUE(recorder->isRecording());
    }

    QTest::mouseClick(recorder->recordButton(), Qt::LeftButton);
    ASSERT_FALSE(recorder->isRecording());
    EXPECT_EQ(listed.paths, QStringList{folder.filePath(QStringLiteral("quit.aifc"))});
    prompter.prompter.alerts.clear();
    EXPECT_TRUE(app->terminate());
    EXPECT_EQ(quits, 1);
    EXPECT_TRUE(prompter.prompter.alerts.empty());
    queue.waitUntilIdle();
    app.reset();
    KORecorderController::setRecordingsList(nullptr);
    // The quit stopped the program's device; the tests after this one record from it.
    KOAudioDevice::sharedAudioDevice().start();
    EXPECT_TRUE(KOAudioDevice::sharedAudioDevice().isRunning());
}

} // namespace
