#pragma once

#include "platform/notifications/NotificationCenter.h"

#include <QWidget>

#include <cstdint>
#include <functional>

class KOAudioDevice;
class KOGrowlNotificationCenter;
class QAction;
class QCheckBox;
class QComboBox;
class QLabel;
class QPushButton;
class QTableView;
class ZOAudioInputDevicePopUpButton;

namespace koru {
class SummingChannelTableModel;
}

// The audio settings window: input device, nominal sample rate, the sound server's mixer, the
// auxiliary inputs, the summing channels and the clip notifications. It keeps no audio state of
// its own: every action goes to the audio device and audioPropertiesChanged then rewrites every
// control from the device, so a refused change shows the state as it really is. It also keeps
// the signal generator's mute menu item in step with the generator. Main thread only.
class KOAudioSettingsWindow : public QWidget {
    Q_OBJECT
public:
    static constexpr const char* kTitle = "Audio Settings";
    static constexpr const char* kMuteItemTitle = "Mute Signal Generator";

    struct Services {
        KOAudioDevice* audioDevice = nullptr;
        KOGrowlNotificationCenter* notifications = nullptr; // none: its check box is hidden
        // The device switch of the application (it saves and offers sessions around it).
        std::function<void(std::uint32_t deviceID)> chooseDevice;
        // Tells the open instruments, in the open list's order, that the input patch changed.
        std::function<void()> patchHasChanged;
    };

    explicit KOAudioSettingsWindow(Services services, QWidget* parent = nullptr);
    ~KOAudioSettingsWindow() override;

    void showAudioSettingsWindow();
    // Rewrites every control from the audio device.
    void audioPropertiesChanged();

    // --- Actions -------------------------------------------------------------------------------
    void addFilePlayer();
    void addNetReceive();
    void addSignalGenerator();
    void toggleFilePlayer();
    void toggleNetReceive();
    void toggleSignalGenerator();
    void addSummingChannel();
    void removeSummingChannel();
    void launchAudioConfigurationApplication();
    void changeSampleRate();
    void changeClockSource();
    void toggleSignalGeneratorMute();
    // The generator's report of its mute state.
    void signalGeneratorMuteStatusChanged(bool muted);
    // An instrument's wish (the transfer function mutes the generator while it pauses).
    void shouldSetSigGenMuteStatus(bool mute);
    void patchHasChanged();

    bool postGrowlNotificationOnClip() const;
    void setPostGrowlNotificationOnClip(bool post);
    bool growlClipNotificationStaysOnScreen() const;
    void setGrowlClipNotificationStaysOnScreen(bool staysOnScreen);

    // --- Controls ------------------------------------------------------------------------------
    ZOAudioInputDevicePopUpButton* audioInPopUpButton() const { return mAudioInPopUpButton; }
    QComboBox* sampleRatePopUpMenu() const { return mSampleRatePopUpMenu; }
    QComboBox* clockSourcePopUpButton() const { return mClockSourcePopUpButton; }
    QLabel* clockSourceLabel() const { return mClockSourceLabel; }
    QPushButton* audioConfigurationAppButton() const { return mAudioConfigurationAppButton; }
    QCheckBox* filePlayerButton() const { return mFilePlayerButton; }
    QCheckBox* netReceiveButton() const { return mNetReceiveButton; }
    QCheckBox* sigGenButton() const { return mSigGenButton; }
    QCheckBox* postOnClipCheckBox() const { return mPostOnClipCheckBox; }
    QCheckBox* clipStaysOnScreenCheckBox() const { return mClipStaysOnScreenCheckBox; }
    QTableView* summingChannelsTable() const { return mSummingChannelsTable; }
    QPushButton* addSummingChannelButton() const { return mAddSummingChannelButton; }
    QPushButton* removeSummingChannelButton() const { return mRemoveSummingChannelButton; }
    // For the application's Audio menu; owned by this window.
    QAction* toggleSigGenMuteItem() const { return mToggleSigGenMuteItem; }
    QAction* toggleSigGenMuteSeparatorItem() const { return mToggleSigGenMuteSeparatorItem; }

private:
    void buildControls();
    void reloadSummingTable();
    void watchInputPatch();

    Services m;
    ZOAudioInputDevicePopUpButton* mAudioInPopUpButton = nullptr;
    QComboBox* mSampleRatePopUpMenu = nullptr;
    QComboBox* mClockSourcePopUpButton = nullptr;
    QLabel* mClockSourceLabel = nullptr;
    QPushButton* mAudioConfigurationAppButton = nullptr;
    QCheckBox* mFilePlayerButton = nullptr;
    QCheckBox* mNetReceiveButton = nullptr;
    QCheckBox* mSigGenButton = nullptr;
    QCheckBox* mPostOnClipCheckBox = nullptr;
    QCheckBox* mClipStaysOnScreenCheckBox = nullptr;
    QTableView* mSummingChannelsTable = nullptr;
    koru::SummingChannelTableModel* mSummingModel = nullptr;
    QPushButton* mAddSummingChannelButton = nullptr;
    QPushButton* mRemoveSummingChannelButton = nullptr;
    QAction* mToggleSigGenMuteItem = nullptr;
    QAction* mToggleSigGenMuteSeparatorItem = nullptr;
    // One observer for the current patch matrix: a refresh replaces it instead of adding one.
    const void* mWatchedMatrix = nullptr;
    koru::platform::ObserverToken mPatchObserver;
};
