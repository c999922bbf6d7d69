#pragma once

#include "engine/KOAudioFileTypeHelper.h"
#include "engine/KORecorder.h"
#include "framework/KOInstrumentControllerWithoutPanel.h"
#include "meters/RBPatchMatrix.h"
#include "meters/RBPatchingProtocol.h"

#include <QLabel>
#include <QPointer>
#include <QToolButton>
#include <QWidgetAction>
#include <QString>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

class KORecorderView;
class KORecordingsList;
class QCheckBox;
class QComboBox;
class QMenu;
class QStackedWidget;
class RBPatchView;

namespace koru::platform {
class UserDefaults;
}

// The recorder window. The settings face chooses the file type, data format, stream format (or,
// for compressed formats, the sample rate), bit rate, number of channels and the channel patch;
// Record asks for a file and starts a KORecorder on the audio device, the recording face shows
// the level strips and the toolbar the elapsed time; Record again stops it and lists the file.
// While a recorder runs the engine stays in safe mode, so the program refuses to quit.
//
// A file that cannot be written is refused before recording starts (a folder without write
// permission, a full disk, a file another recorder is writing); a write failure during the
// recording stops it, lists what was written and says so, on the settings face as well.
//
// Threads: everything on the main thread but dataCollection (collector thread, under the
// data-collection lock). The recorder is made and deleted under that lock, so the collector
// never reads a deleted recorder.
class KORecorderController : public KOInstrumentControllerWithoutPanel, public RBPatchingProtocol {
    Q_OBJECT
public:
    static constexpr const char* kNibName = "recorder";
    static constexpr const char* kAudioFileTypeKey = "Recorder.AudioFileType";
    static constexpr const char* kNumChannelsKey = "Recorder.NumChannels";
    static constexpr const char* kPatchMatrixKey = "Recorder.PatchMatrix";
    static constexpr const char* kLastFileFormatDefault = "KORU.Recorder.LastFileFormat";
    static constexpr const char* kSupportNonLinearPCMDefault = "KORU.Recorder.SupportNonLinearPCM";
    static constexpr const char* kPathDefault = "Recorder.Path";
    static constexpr const char* kLastFileNameDefault = "Recorder.LastFileName";
    static constexpr const char* kCounterItemIdentifier = "KOToolbarIdentifier_RecorderCounter";
    static constexpr const char* kRecordItemIdentifier = "KOToolbarIdentifier_RecorderRecord";
    static constexpr double kSettingsWidth = 501.0;
    static constexpr double kSettingsHeight = 202.0;
    // Less free space than this in the target folder refuses the recording.
    static constexpr qint64 kMinimumFreeBytes = 16 * 1024 * 1024;

    // What a recording is made with; tests make their recorder from it (a failing file, say).
    struct RecorderRequest {
        QString path;
        std::uint32_t fileType = 0;
        std::vector<std::int32_t> map;
        std::uint32_t bitRate = 0;
        ZOAudioStreamDescription clientFormat;
        ZOAudioStreamDescription fileFormat;
    };
    using RecorderFactory = std::function<std::unique_ptr<KORecorder>(const RecorderRequest&)>;
    // Free bytes in a folder, negative when unknown.
    using FreeSpaceProbe = std::function<qint64(const QString& folder)>;

    KORecorderController();
    ~KORecorderController() override;

    // The program's recordings list (not owned; null: finished files are only logged).
    static void setRecordingsList(KORecordingsList* list);
    static KORecordingsList* recordingsList();

    void initWithWindowNibName(const QString& nibName, const QVariantMap* dictionary) override;
    QVariantMap dictionaryRepresentation() const override;
    void dataCollection() override;
    void audioPropertiesChanged() override;
    bool canBeClosed() const override { return !isRecording(); }
    QStringList toolbarItemIdentifiers() const override;
    QAction* toolbarItemForItemIdentifier(const QString& identifier, QObject* parent) override;

    // RBPatchingProtocol
    RBPatchMatrix* patchMatrix() override;
    std::uint32_t numberChannels() const override { return mNumberChannels; }

    std::uint32_t maxNumberChannels() const;
    void setNumberChannels(std::uint32_t count);
    void setSupportNonLinearPCM(bool support);
    KOAudioFileTypeHelper& fileTypeHelper();

    // Start (asking for the file) or stop.
    void toggleRecording();
    bool isRecording() const { return mRecorder != nullptr; }
    KORecorder* recorder() const { return mRecorder.get(); }
    void updateCounter();
    // "m:ss" below an hour, "h:mm:ss" from then on.
    static QString counterText(std::uint64_t seconds);

    void setRecorderFactory(RecorderFactory factory) { mRecorderFactory = std::move(factory); }
    void setFreeSpaceProbe(FreeSpaceProbe probe) { mFreeSpaceProbe = std::move(probe); }

    // Outlets, for tests and the window's own wiring.
    QComboBox* fileFormatPopUp() const { return mFileFormatPopUp; }
    QComboBox* dataFormatPopUp() const { return mDataFormatPopUp; }
    QComboBox* streamFormatPopUp() const { return mStreamFormatPopUp; }
    QComboBox* bitRatePopUp() const { return mBitRatePopUp; }
    QLabel* streamFormatLabel() const { return mStreamFormatLabel; }
    QToolButton* patchPopUp() const { return mPatchPopUp; }
    QMenu* patchMenu() const;
    RBPatchView* patchView() const;
    QCheckBox* nonLinearPCMCheckBox() const { return mNonLinearCheckBox; }
    QLabel* nameLabel() const { return mNameLabel; }
    QLabel* statusLabel() const { return mStatusLabel; }
    QLabel* counterLabel() const { return mCounterLabel; }
    QToolButton* recordButton() const { return mRecordButton; }
    KORecorderView* recorderView() const { return mRecorderView; }
    QWidget* settingsView() const { return mSettingsView; }
    QWidget* recordingsPanel() const { return mRecordingsPanel; }
    bool showsSettings() const;

protected:
    std::unique_ptr<QMainWindow> buildWindow(const QString& nibName) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void createFileTypeHelper();
    void createMenus();
    void rebuildPatchMenu();
    std::vector<std::int32_t> channelMap();
    void startRecording();
    // Tearing down, the window is left as it is: only the file is finished and listed.
    void stopRecording(bool tearingDown = false);
    bool checkTarget(const QString& path);
    void createRecorder(const QString& path);
    void showSettings();
    void showRecorder();
    void recorderError();
    void refuse(const QString& text);
    void changeAudioFileType(int index);
    void changeDataFormat(int index);
    void changeStreamDescription(int index);
    void changeSampleRate(int index);
    void changeBitrate(int index);

    koru::platform::UserDefaults& mDefaults;
    std::unique_ptr<KOAudioFileTypeHelper> mFormat;
    std::unique_ptr<RBPatchMatrix> mPatchMatrix;
    std::unique_ptr<KORecorder> mRecorder; // set and reset under the data-collection lock
    std::uint32_t mNumberChannels = 2;
    QString mRecordingPath;
    double mSampleRate = 0.0;
    std::atomic<std::uint64_t> mRecordedSeconds{0};
    std::atomic<bool> mFailureQueued{false};
    std::vector<float> mPeakScratch; // collector thread only; sized before the recorder starts
    RecorderFactory mRecorderFactory;
    FreeSpaceProbe mFreeSpaceProbe;
    koru::platform::ObserverToken mErrorObserver;

    // Owned by the window.
    QStackedWidget* mActiveContentView = nullptr;
    QWidget* mSettingsView = nullptr;
    KORecorderView* mRecorderView = nullptr;
    QComboBox* mFileFormatPopUp = nullptr;
    QComboBox* mDataFormatPopUp = nullptr;
    QComboBox* mStreamFormatPopUp = nullptr;
    QComboBox* mBitRatePopUp = nullptr;
    QLabel* mStreamFormatLabel = nullptr;
    QToolButton* mPatchPopUp = nullptr;
    QCheckBox* mNonLinearCheckBox = nullptr;
    QLabel* mNameLabel = nullptr;
    QLabel* mStatusLabel = nullptr;
    QWidget* mRecordingsPanel = nullptr;
    QPointer<QLabel> mCounterLabel;
    QPointer<QWidgetAction> mCounterItem;
    QPointer<QToolButton> mRecordButton;
    QSize mSettingsSize;
};
