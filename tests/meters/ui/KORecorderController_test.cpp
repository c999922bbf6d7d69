#include "RecorderTestSupport.h"

#include "app/InstrumentRegistry.h"
#include "app/ScriptedUiPrompter.h"
#include "engine/KOAudioDevice.h"
#include "engine/KODataCollectorThread.h"
#include "meters/ui/KORecorderController.h"
#include "meters/ui/KORecorderView.h"
#include "meters/ui/KORecordingsList.h"
#include "meters/ui/MeterInstruments.h"
#include "meters/ui/RBPatchView.h"
#include "platform/audio/DeviceRegistry.h"
#include "platform/audiofile/AudioFileReader.h"
#include "platform/defaults/UserDefaults.h"
#include "platform/plist/PropertyList.h"
#include "support/TestSupport.h"
#include "zotools/CAException.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QMainWindow>
#include <QMenu>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>

#include <gtest/gtest.h>

#include <memory>

namespace {

using koru::test::ListedRecordings;
using koru::test::RecorderInput;
using koru::test::ScopedScriptedPrompter;
using Response = koru::AlertPresenter::Response;

std::vector<std::vector<float>> readChannels(const QString& path, double* rate) {
    auto reader = koru::platform::AudioFileReader::open(path.toStdString());
    *rate = reader->sampleRate();
    std::vector<std::vector<float>> channels(std::size_t(reader->channels()));
    std::vector<float> chunk(4096 * channels.size());
    for (std::int64_t got; (got = reader->read(chunk.data(), 4096)) > 0;)
        for (std::int64_t i = 0; i < got; ++i)
            for (std::size_t c = 0; c < channels.size(); ++c)
                channels[c].push_back(chunk[std::size_t(i) * channels.size() + c]);
    return channels;
}

class RecorderWindowTest : public ::testing::Test {
protected:
    RecorderWindowTest() {
        RecorderInput::shared();
        koru::registerMeterInstruments(registry);
        KORecorderController::setRecordingsList(&listed);
        auto& defaults = koru::platform::UserDefaults::standardUserDefaults();
        for (const char* name :
             {KORecorderController::kLastFileFormatDefault,
              KORecorderController::kSupportNonLinearPCMDefault, "AudioFileTypes.FileTypeID"})
            defaults.removeObjectForKey(QString::fromLatin1(name));
    }
    ~RecorderWindowTest() override { KORecorderController::setRecordingsList(nullptr); }

    KORecorderController* newRecorder() {
        windows.push_back(registry.createNew(QStringLiteral("KORecorderController"), nullptr));
        return dynamic_cast<KORecorderController*>(windows.back().get());
    }
    QString target(const QString& name) const { return folder.filePath(name); }

    // Chooses an entry of a pop-up with the keyboard, as a user does.
    static void choose(QComboBox* popUp, const QString& text) {
        const int index = popUp->findText(text, Qt::MatchContains);
        ASSERT_GE(index, 0) << text.toStdString();
        QTest::keyClick(popUp, Qt::Key_Home);
        for (int i = 0; i < index; ++i)
            QTest::keyClick(popUp, Qt::Key_Down);
        ASSERT_EQ(popUp->currentIndex(), index);
    }
    static void record(KORecorderController* recorder) {
        ASSERT_NE(recorder->recordButton(), nullptr);
        QTest::mouseClick(recorder->recordButton(), Qt::LeftButton);
    }

    ScopedScriptedPrompter prompter;
    ListedRecordings listed;
    koru::InstrumentRegistry registry;
    QTemporaryDir folder;
    std::vector<std::unique_ptr<KOInstrumentController>> windows;
};

// Patch two inputs crosswise in the grid, choose 16-bit WAVE, record, stop: the file holds the
// patched inputs in the patched order, and the recordings list has it.
TEST_F(RecorderWindowTest, RecordsThePatchedChannelsInTheChosenFormat) {
    KORecorderController* recorder = newRecorder();
    ASSERT_NE(recorder, nullptr);
    KOAudioDevice& device = KOAudioDevice::sharedAudioDevice();
    ASSERT_EQ(recorder->numberChannels(), 2u);

    choose(recorder->fileFormatPopUp(), QStringLiteral("(wav)"));
    choose(recorder->streamFormatPopUp(), QStringLiteral("16-bit"));
    EXPECT_EQ(recorder->streamFormatLabel()->text(), QStringLiteral("Stream Format:"));
    EXPECT_FALSE(recorder->bitRatePopUp()->isEnabled());
    EXPECT_EQ(recorder->bitRatePopUp()->count(), 0);

    QMenu* menu = recorder->patchMenu();
    ASSERT_NE(menu, nullptr);
    menu->popup(QPoint(0, 0));
    RBPatchView* grid = recorder->patchView();
    ASSERT_NE(grid, nullptr);
    EXPECT_EQ(grid->numberOfRows(), 2u);
    EXPECT_EQ(grid->numberOfColumns(), 4u);
    QTest::mouseClick(grid, Qt::LeftButton, {}, grid->cellCentre(0, 3).toPoint());
    QTest::mouseClick(grid, Qt::LeftButton, {}, grid->cellCentre(1, 1).toPoint());
    menu->hide();
    EXPECT_EQ(recorder->patchMatrix()->channelMap(2), (std::vector<std::int32_t>{3, 1}));
    EXPECT_TRUE(recorder->nameLabel()->text().startsWith(QStringLiteral("2 Channel WAVE")))
        << recorder->nameLabel()->text().toStdString();

    prompter.prompter.panelAnswers.push_back(target(QStringLiteral("take")));
    record(recorder);
    ASSERT_TRUE(recorder->isRecording()) << recorder->statusLabel()->text().toStdString();
    ASSERT_EQ(prompter.prompter.savePanels.size(), 1u);
    EXPECT_EQ(prompter.prompter.savePanels[0].defaultSuffix, QStringLiteral("wav"));
    EXPECT_TRUE(device.inSafeMode());
    EXPECT_TRUE(recorder->sticky());
    EXPECT_FALSE(recorder->showsSettings());
    // Starting keeps the user's patch.
    EXPECT_EQ(recorder->patchMatrix()->channelMap(2), (std::vector<std::int32_t>{3, 1}));

    RecorderInput::shared().pump(60);
    EXPECT_EQ(recorder->recorder()->FramesWritten(), 60u * 1024);
    EXPECT_FLOAT_EQ(recorder->recorder()->Peak(0), 0.75f);
    EXPECT_FLOAT_EQ(recorder->recorder()->Peak(1), 0.25f);
    EXPECT_FLOAT_EQ(recorder->recorderView()->ringValue(0, 0), std::sqrt(0.75f));
    ASSERT_TRUE(koru::test::spinUntil(
        [&] { return recorder->counterLabel()->text() == QStringLiteral("0:01"); }));

    record(recorder);
    EXPECT_FALSE(recorder->isRecording());
    EXPECT_TRUE(recorder->showsSettings());
    EXPECT_FALSE(device.inSafeMode());
    EXPECT_FALSE(recorder->sticky());
    const QString path = target(QStringLiteral("take.wav"));
    EXPECT_EQ(listed.paths, QStringList{path});
    EXPECT_EQ(koru::platform::UserDefaults::standardUserDefaults().stringForKey(
                  QStringLiteral("Recorder.LastFileName")),
              path);

    double rate = 0.0;
    const auto channels = readChannels(path, &rate);
    ASSERT_EQ(channels.size(), 2u);
    EXPECT_EQ(rate, RecorderInput::kRate);
    ASSERT_GE(channels[0].size(), 60u * 1024);
    for (std::size_t i = 0; i < channels[0].size(); i += 997) {
        ASSERT_NEAR(channels[0][i], 0.75f, 1.0f / 32768) << "frame " << i;
        ASSERT_NEAR(channels[1][i], -0.25f, 1.0f / 32768) << "frame " << i;
    }
}

TEST_F(RecorderWindowTest, NewWindowsAreNumberedAndOfferTwoChannels) {
    KORecorderController* first = newRecorder();
    KORecorderController* second = newRecorder();
    const int n = first->name().section(QLatin1Char(' '), 1).toInt();
    EXPECT_TRUE(first->name().startsWith(QStringLiteral("Recorder ")));
    EXPECT_EQ(second->name(), QStringLiteral("Recorder %1").arg(n + 1));
    EXPECT_EQ(second->numberChannels(), 2u);
    EXPECT_EQ(second->instrumentWindow()->windowTitle(), second->name());
    // Every registered kind shows in the add menu under this class name.
    EXPECT_TRUE(registry.contains(QStringLiteral("KORecorderController")));
}

// The channel submenu offers 1 to the device's channels; more is clamped, also on restore,
// and the restored window has the saved patch and format.
TEST_F(RecorderWindowTest, ChannelCountsAreClampedAndSettingsRestore) {
    KORecorderController* recorder = newRecorder();
    QMenu* channels = nullptr;
    for (QAction* action : recorder->patchMenu()->actions())
        if (action->menu())
            channels = action->menu();
    ASSERT_NE(channels, nullptr);
    QStringList titles;
    for (QAction* action : channels->actions())
        titles << action->text();
    EXPECT_EQ(titles, QStringList({"1", "2", "3", "4"}));
    channels->actions().at(2)->trigger();
    EXPECT_EQ(recorder->numberChannels(), 3u);
    EXPECT_TRUE(recorder->nameLabel()->text().startsWith(QStringLiteral("3 Channel ")));
    recorder->setNumberChannels(40);
    EXPECT_EQ(recorder->numberChannels(), 4u);
    recorder->patchMatrix()->patchItemAtIndex(0)->setChannelNumber(2);
    choose(recorder->fileFormatPopUp(), QStringLiteral("(caf)"));
    const std::uint32_t type = recorder->fileTypeHelper().fileTypeID();

    QVariantMap saved = recorder->dictionaryRepresentation();
    saved.insert(QStringLiteral("Recorder.NumChannels"), 300);
    struct Case {
        const char* what;
        QVariant count;
        std::uint32_t expected;
    };
    for (const Case& c : {Case{"above the device", 300, 4}, Case{"zero", 0, 1},
                          Case{"not a number", QStringLiteral("many"), 2}}) {
        SCOPED_TRACE(c.what);
        saved.insert(QStringLiteral("Recorder.NumChannels"), c.count);
        auto restored = registry.createFromDictionary(saved, nullptr);
        auto* again = dynamic_cast<KORecorderController*>(restored.get());
        ASSERT_NE(again, nullptr);
        EXPECT_EQ(again->numberChannels(), c.expected);
        EXPECT_EQ(again->patchMatrix()->channelNumberAtIndex(0), 2);
        EXPECT_EQ(again->fileTypeHelper().fileTypeID(), type);
        EXPECT_EQ(again->name(), recorder->name());
    }
}

// Sessions are property lists; the window's keys read back in a decimal-comma locale too.
TEST_F(RecorderWindowTest, SavedKeysReadBackInEveryLocale) {
    for (const char* locale : {"C", "de_DE.UTF-8"}) {
        SCOPED_TRACE(locale);
        koru::test::ScopedLocale scoped(locale);
        if (!scoped.active())
            GTEST_SKIP() << locale << " is not available";
        KORecorderController* recorder = newRecorder();
        recorder->setNumberChannels(3);
        recorder->patchMatrix()->patchItemAtIndex(2)->setChannelNumber(-1);
        const QString file = target(QStringLiteral("session-%1.plist").arg(locale));
        ASSERT_TRUE(koru::platform::PropertyList::write(file, recorder->dictionaryRepresentation(),
                                                        koru::platform::PlistFormat::Xml));
        const auto read = koru::platform::PropertyList::read(file);
        ASSERT_TRUE(read.ok()) << read.error.toStdString();
        const QVariantMap saved = read.value.toMap();
        EXPECT_EQ(saved.value(QStringLiteral("Recorder.AudioFileType")).toMap(),
                  recorder->fileTypeHelper().dictionaryRepresentation());
        auto restored = registry.createFromDictionary(saved, nullptr);
        auto* again = dynamic_cast<KORecorderController*>(restored.get());
        ASSERT_NE(again, nullptr);
        EXPECT_EQ(again->numberChannels(), 3u);
        EXPECT_EQ(again->patchMatrix()->channelMap(3), (std::vector<std::int32_t>{0, 1, -1}));
        EXPECT_DOUBLE_EQ(again->fileTypeHelper().sampleRate(),
                         recorder->fileTypeHelper().sampleRate());
    }
}

TEST_F(RecorderWindowTest, CompressedFormatsOfferRatesAndBitRatesAndTheBoxTurnsThemOff) {
    KORecorderController* recorder = newRecorder();
    EXPECT_EQ(recorder->fileFormatPopUp()->findText(QStringLiteral("(m4a)"), Qt::MatchContains), -1)
        << "compressed-only types need the box";
    QTest::mouseClick(recorder->nonLinearPCMCheckBox(), Qt::LeftButton);
    ASSERT_TRUE(recorder->nonLinearPCMCheckBox()->isChecked());
    choose(recorder->fileFormatPopUp(), QStringLiteral("(m4a)"));
    choose(recorder->dataFormatPopUp(), QStringLiteral("AAC"));
    EXPECT_EQ(recorder->streamFormatLabel()->text(), QStringLiteral("Sample Rate"));
    EXPECT_EQ(recorder->streamFormatPopUp()->currentText(), QStringLiteral("48000 Hz"))
        << "compressed files are encoded at the device's rate";
    EXPECT_TRUE(recorder->bitRatePopUp()->isEnabled());
    const int bitRate128 = recorder->bitRatePopUp()->findText(QStringLiteral("128000 bps"));
    EXPECT_GE(bitRate128, 0);
    EXPECT_EQ(recorder->bitRatePopUp()->currentIndex(), bitRate128);
    EXPECT_TRUE(recorder->nameLabel()->text().contains(QStringLiteral("kbps")));

    // Going back to the caf type keeps AAC available there; turning the box off goes to PCM.
    choose(recorder->fileFormatPopUp(), QStringLiteral("(caf)"));
    QTest::mouseClick(recorder->nonLinearPCMCheckBox(), Qt::LeftButton);
    EXPECT_EQ(recorder->fileTypeHelper().formatID(), kAudioFormatLinearPCM);
    EXPECT_EQ(recorder->streamFormatLabel()->text(), QStringLiteral("Stream Format:"));
    EXPECT_FALSE(recorder->nameLabel()->text().contains(QStringLiteral("kbps")));
    EXPECT_FALSE(koru::platform::UserDefaults::standardUserDefaults().boolForKey(
        QStringLiteral("KORU.Recorder.SupportNonLinearPCM")));
}

TEST(RecorderCounter, ShowsMinutesThenHours) {
    struct Case {
        std::uint64_t seconds;
        const char* text;
    };
    for (const Case c :
         {Case{0, "0:00"}, Case{9, "0:09"}, Case{3599, "59:59"}, Case{3600, "1:00:00"},
          Case{3661, "1:01:01"}, Case{100 * 3600 + 5, "100:00:05"}}) {
        SCOPED_TRACE(c.seconds);
        EXPECT_EQ(KORecorderController::counterText(c.seconds), QString::fromLatin1(c.text));
    }
}

// What cannot be written is refused with a clear word before anything records.
TEST_F(RecorderWindowTest, TargetsThatCannotBeWrittenAreRefusedBeforeRecording) {
    KORecorderController* busy = newRecorder();
    choose(busy->fileFormatPopUp(), QStringLiteral("(wav)"));
    prompter.prompter.panelAnswers.push_back(target(QStringLiteral("busy.wav")));
    record(busy);
    ASSERT_TRUE(busy->isRecording());
    QFile plainFile(target(QStringLiteral("plain")));
    ASSERT_TRUE(plainFile.open(QIODevice::WriteOnly));
    plainFile.close();

    struct Case {
        const char* what;
        QString path;
        qint64 freeBytes;
        const char* words;
    };
    const Case cases[] = {
        {"folder missing", target(QStringLiteral("gone/take.aifc")), -1, "cannot be written"},
        {"folder is a file", target(QStringLiteral("plain/take.aifc")), -1, "cannot be written"},
        {"disk full", target(QStringLiteral("full.aifc")), 1024 * 1024, "is full"},
        {"another recorder writes it", target(QStringLiteral("busy.wav")), -1,
         "being recorded by another recorder"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        KORecorderController* recorder = newRecorder();
        recorder->setFreeSpaceProbe([&c](const QString&) { return c.freeBytes; });
        if (QString(c.what) == QLatin1String("another recorder writes it"))
            choose(recorder->fileFormatPopUp(), QStringLiteral("(wav)"));
        prompter.prompter.alerts.clear();
        prompter.prompter.panelAnswers.push_back(c.path);
        record(recorder);
        EXPECT_FALSE(recorder->isRecording());
        EXPECT_TRUE(recorder->showsSettings());
        ASSERT_EQ(prompter.prompter.alerts.size(), 1u);
        EXPECT_EQ(prompter.prompter.alerts[0].messageText,
                  QStringLiteral("Error creating Recorder!"));
        EXPECT_TRUE(
            prompter.prompter.alerts[0].informativeText.contains(QString::fromLatin1(c.words)))
            << prompter.prompter.alerts[0].informativeText.toStdString();
        EXPECT_EQ(recorder->statusLabel()->text(), prompter.prompter.alerts[0].informativeText);
        EXPECT_TRUE(busy->isRecording()) << "the running recording goes on";
    }
    EXPECT_FALSE(QFile::exists(target(QStringLiteral("full.aifc"))));
    record(busy);
    EXPECT_FALSE(KOAudioDevice::sharedAudioDevice().inSafeMode());
}

TEST_F(RecorderWindowTest, CancellingTheSavePanelLeavesNoRecorderAndNoFile) {
    KORecorderController* recorder = newRecorder();
    prompter.prompter.panelAnswers.push_back(QString()); // cancel
    record(recorder);
    EXPECT_FALSE(recorder->isRecording());
    EXPECT_TRUE(recorder->showsSettings());
    EXPECT_TRUE(prompter.prompter.alerts.empty());
    EXPECT_TRUE(QDir(folder.path()).entryList(QDir::Files).isEmpty());
    EXPECT_FALSE(KOAudioDevice::sharedAudioDevice().inSafeMode());
}

// A recorder the file layer refuses (a format it cannot write) reports the engine's code.
TEST_F(RecorderWindowTest, ARecorderThatCannotBeMadeShowsItsErrorCode) {
    KORecorderController* recorder = newRecorder();
    recorder->setRecorderFactory(
        [](const KORecorderController::RecorderRequest&) -> std::unique_ptr<KORecorder> {
            throw CAException(2);
        });
    prompter.prompter.panelAnswers.push_back(target(QStringLiteral("refused.aifc")));
    record(recorder);
    EXPECT_FALSE(recorder->isRecording());
    ASSERT_EQ(prompter.prompter.alerts.size(), 1u);
    EXPECT_EQ(prompter.prompter.alerts[0].messageText, QStringLiteral("Error creating Recorder!"));
    EXPECT_EQ(prompter.prompter.alerts[0].informativeText,
              QStringLiteral("An error occurred when trying to create the recorder. Maybe try an "
                             "other format.\nError 2"));
    EXPECT_FALSE(KOAudioDevice::sharedAudioDevice().inSafeMode());
}

// The disk fills during a recording: that recording stops, keeps what was written, is listed
// and says so; another recorder that can still write goes on.
TEST_F(RecorderWindowTest, AFullDiskStopsOnlyTheRecordingThatFailed) {
    KORecorderController* failing = newRecorder();
    choose(failing->fileFormatPopUp(), QStringLiteral("(wav)"));
    choose(failing->streamFormatPopUp(), QStringLiteral("32-bit"));
    KORecorderController* healthy = newRecorder();
    healthy->setNumberChannels(1);
    prompter.prompter.panelAnswers.push_back(target(QStringLiteral("full.wav")));
    record(failing);
    prompter.prompter.panelAnswers.push_back(target(QStringLiteral("fine.aifc")));
    record(healthy);
    ASSERT_TRUE(failing->isRecording());
    ASSERT_TRUE(healthy->isRecording());
    // 8 bytes a frame against 3: the failing file reaches the limit long before the healthy one.
    {
        koru::test::ScopedFileSizeLimit limit(256 * 1024);
        if (!limit.active())
            GTEST_SKIP() << "no file-size limit here";
        ASSERT_TRUE(koru::test::spinUntil(
            [&] {
                RecorderInput::shared().pump(1);
                return !failing->isRecording();
            },
            30000));
    }
    EXPECT_TRUE(healthy->isRecording());
    ASSERT_FALSE(prompter.prompter.alerts.empty());
    EXPECT_EQ(prompter.prompter.alerts.back().messageText, QStringLiteral("Error in Recorder"));
    EXPECT_EQ(prompter.prompter.alerts.back().informativeText,
              QStringLiteral("An unknown error occurred when recording."));
    EXPECT_TRUE(failing->statusLabel()->text().contains(QStringLiteral("failed")));
    EXPECT_TRUE(failing->showsSettings());
    EXPECT_EQ(listed.paths, QStringList{target(QStringLiteral("full.wav"))});
    double rate = 0.0;
    const auto kept = readChannels(target(QStringLiteral("full.wav")), &rate);
    ASSERT_EQ(kept.size(), 2u);
    EXPECT_GT(kept[0].size(), 1024u) << "what was written before is kept";
    EXPECT_TRUE(KOAudioDevice::sharedAudioDevice().inSafeMode()) << "the healthy one holds it";
    record(healthy);
    EXPECT_FALSE(KOAudioDevice::sharedAudioDevice().inSafeMode());
    EXPECT_EQ(listed.paths.size(), 2);
}

TEST_F(RecorderWindowTest, ClosingARecordingWindowAsksFirst) {
    KORecorderController* recorder = newRecorder();
    recorder->instrumentWindow()->show();
    prompter.prompter.panelAnswers.push_back(target(QStringLiteral("closing.aifc")));
    record(recorder);
    ASSERT_TRUE(recorder->isRecording());
    EXPECT_FALSE(recorder->canBeClosed());

    prompter.prompter.alertAnswers.push_back(Response::Default); // "Cancel"
    EXPECT_FALSE(recorder->instrumentWindow()->close());
    ASSERT_EQ(prompter.prompter.alerts.size(), 1u);
    EXPECT_EQ(prompter.prompter.alerts[0].messageText, QStringLiteral("Really Quit Recorder?"));
    EXPECT_EQ(prompter.prompter.alerts[0].informativeText,
              QStringLiteral("The recording will be stopped when the recorder window is closed."));
    EXPECT_EQ(prompter.prompter.alerts[0].defaultButton, QStringLiteral("Cancel"));
    EXPECT_EQ(prompter.prompter.alerts[0].alternateButton, QStringLiteral("Yes"));
    EXPECT_TRUE(recorder->isRecording());
    EXPECT_TRUE(recorder->instrumentWindow()->isVisible());

    prompter.prompter.alertAnswers.push_back(Response::Alternate); // "Yes"
    EXPECT_TRUE(recorder->instrumentWindow()->close());
    EXPECT_FALSE(recorder->isRecording());
    EXPECT_EQ(listed.paths, QStringList{target(QStringLiteral("closing.aifc"))});
    EXPECT_FALSE(KOAudioDevice::sharedAudioDevice().inSafeMode());
}

// A window that goes away while recording (the program tears it down) still finishes and lists
// its file.
TEST_F(RecorderWindowTest, AWindowDeletedWhileRecordingListsItsFile) {
    KORecorderController* recorder = newRecorder();
    prompter.prompter.panelAnswers.push_back(target(QStringLiteral("teardown.aifc")));
    record(recorder);
    ASSERT_TRUE(recorder->isRecording());
    RecorderInput::shared().pump(3);
    windows.clear();
    EXPECT_EQ(listed.paths, QStringList{target(QStringLiteral("teardown.aifc"))});
    EXPECT_FALSE(KOAudioDevice::sharedAudioDevice().inSafeMode());
    double rate = 0.0;
    EXPECT_EQ(readChannels(target(QStringLiteral("teardown.aifc")), &rate).size(), 2u);
}

TEST_F(RecorderWindowTest, TheLevelViewAndTheWindowAreDrawn) {
    KORecorderController* recorder = newRecorder();
    prompter.prompter.panelAnswers.push_back(target(QStringLiteral("picture.aifc")));
    record(recorder);
    ASSERT_TRUE(recorder->isRecording());
    KORecorderView* view = recorder->recorderView();
    // Repainted here only, so the strips drawn are the ones looked at.
    view->setRedrawRate(0);
    recorder->instrumentWindow()->show();
    RecorderInput::shared().pump(30);
    ASSERT_EQ(view->numChannels(), 2u);
    (void)view->grab();
    RecorderInput::shared().pump(3);
    ASSERT_TRUE(view->hasPendingLayer());
    const QImage shown = view->grab().toImage();
    const int x = shown.width() - 4;
    const int s = shown.height() / 2;
    // Channel 0 carries 0.5 (sqrt: 0.707), channel 1 −0.25 (sqrt of its magnitude: 0.5).
    auto lit = [&](int y) { return shown.pixelColor(x, y).blue() > 150; };
    EXPECT_TRUE(lit(s / 2));
    EXPECT_TRUE(lit(s / 2 - int(0.45 * s * 0.707) + 2));
    EXPECT_FALSE(lit(s / 2 - int(0.45 * s * 0.707) - 3));
    EXPECT_TRUE(lit(s + s / 2 + int(0.45 * s * 0.5) - 2));
    EXPECT_FALSE(lit(s + s / 2 + int(0.45 * s * 0.5) + 3));
    record(recorder);
}

} // namespace
