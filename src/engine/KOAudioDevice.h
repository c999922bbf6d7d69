#pragma once

#include "engine/AlertPresenter.h"
#include "engine/AudioDeviceNotifier.h"
#include "engine/AudioSettingsDictionary.h"
#include "engine/AuxInputWrapper.h"
#include "engine/ChannelMenuCache.h"
#include "engine/KOAD.h"
#include "engine/KOADOwner.h"
#include "engine/KOPatchMatrix.h"
#include "engine/KOPatchingProtocol.h"
#include "engine/MainThreadWakeUp.h"
#include "platform/notifications/NotificationCenter.h"
#include "utility/SampleRateSource.h"
#include "zotools/ZOAudioHardwareDevice.h"
#include "zotools/ZOAudioStreamDescription.h"

#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <QVariantMap>

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>

class KODataCollectorThread;
class QTimer;
class ZOInputClient;

// The application's one audio-device object: owns the engine and is the face of the audio side
// for the rest of the program. It switches the input device, registers clients, answers rate and
// channel questions, turns engine events into main-thread notifications and alerts, guards every
// settings change with safe mode, holds the auxiliary inputs and summing channels, saves and
// restores the audio settings, names channels, lists the channel menus' entries and keeps the
// input patch in step with the engine's channel map. Its face on the desktop (alerts, the info
// panel, the menus) lives in engine/ui.
//
// Threads: everything runs on the main thread except errorHandling (audio thread: one eventfd
// write, nothing else) and dataCollectorThreadHasFinished (collector thread: queues the clip
// check on the background queue, at most one at a time). The clip flag and the engine pointer
// the collector reads are atomics; the channel names handed to the notification centre are a
// snapshot under their own mutex, taken alone.
class KOAudioDevice : public KOADOwner,
                      public KOPatchingProtocol,
                      public koru::utility::SampleRateSource {
public:
    static constexpr std::uint32_t kBufferSize = 1024;
    // Summing channels count as two each, so this allows 16 of them.
    static constexpr std::uint32_t kMaxSummingChannelNumbers = 32;
    static constexpr std::uint32_t kMaxMenuChannels = 96;
    static constexpr double kFallbackSampleRate = 44100.0;
    static constexpr double kLowestCachedSampleRate = 4000.0;
    static constexpr double kClipThresholdDecibels = -0.02;
    // After an I/O error is announced, further failures within this time join its burst.
    static constexpr int kErrorHoldOffMs = 500;

    static constexpr const char* kReloadAudioPropNotification = "KORUNOT.reloadAudioProp";
    static constexpr const char* kErrorOnIONotification = "KoruNot.ErrorOnIO";
    static constexpr const char* kSummingColumnA = "cha";
    static constexpr const char* kSummingColumnB = "chb";

    // Shows the device's name and rate on their two lines.
    using InfoPanel = std::function<void(const QString& text, const QString& additional)>;

    // What the device works with; empty members take the program's own.
    struct Services {
        KODataCollectorThread* collector = nullptr;
        koru::platform::NotificationCenter* center = nullptr;
        std::shared_ptr<koru::AlertPresenter> alerts; // empty: alerts are logged
        InfoPanel info;                               // empty: the lines are logged
        // "Quit" in the device-change error alert.
        std::function<void()> quit;
        // Waits out an I/O error burst: calls its argument once the hold-off has passed, after
        // which the next failure is news again. Empty: a kErrorHoldOffMs timer.
        std::function<void(std::function<void()> rearm)> errorHoldOff;
    };

    // The one instance, created on first use on the main thread; it registers itself as the
    // distance formatter's sample-rate source and is never destroyed.
    static KOAudioDevice& sharedAudioDevice();

    KOAudioDevice();
    explicit KOAudioDevice(Services services);
    ~KOAudioDevice() override;
    KOAudioDevice(const KOAudioDevice&) = delete;
    KOAudioDevice& operator=(const KOAudioDevice&) = delete;

    // Wiring from above: the notification centre (null unplugs it), the window controllers of
    // the auxiliary inputs.
    void setNotifier(koru::AudioDeviceNotifier* notifier);
    void setAuxInputWrapperFactory(koru::AuxInputKind kind, koru::AuxInputWrapperFactory factory);
    // Wiring from the program's start (the shared device is built without them); empty values
    // go back to logging.
    void setAlertPresenter(std::shared_ptr<koru::AlertPresenter> alerts);
    void setInfoPanel(InfoPanel info);

    // ---- engine and device ----
    // Created on the default input when missing; null only when not even the virtual input
    // could be opened.
    KOAD* getKOAD();
    // Does nothing when an engine exists. A device that is gone is replaced by the virtual input.
    void createAudioDevice(std::uint32_t id);
    std::uint32_t bufferSize() const { return kBufferSize; }
    void start();
    void stop();
    void setAudioObjectID(std::uint32_t id);
    // The user's choice of input device. Refused, with the running device left as it was, in
    // safe mode (the safe-mode alert) and for a device that is gone or has no inputs (the
    // device-change alert); answers whether the device was switched.
    bool chooseAudioObjectID(std::uint32_t id);
    std::uint32_t audioObjectID();
    ZOAudioHardwareDevice hardwareDevice();
    QString name();
    QString UID();
    std::uint32_t relatedOutputDevice();
    ZOAudioStreamDescription deviceFormat();
    double nominalSampleRate();
    void setNominalSampleRate(double rate);
    // The user's choice of rate. Refused in safe mode (a running recording keeps its rate) with
    // the safe-mode alert, and with the device-change alert when the device is gone or does not
    // offer the rate; the running device is left as it was then. Answers whether it was set.
    bool chooseNominalSampleRate(double rate);
    double nyquistFrequency();
    void addInputClient(ZOInputClient* client);
    bool inSafeMode() const;
    void showSafeModeAlert();
    void invalidateCachedValues();
    void showAudioSettingsInInfoPanel();
    double currentSampleRate() const override;

    // Whether the engine captures audio now. A device that could not be opened or started, or
    // failed while in use, is reported (log line, "KoruNot.ErrorOnIO", an alert naming it and
    // the cause) and replaced by the virtual input; when even that cannot run, this is false.
    bool isRunning() const;
    // The last device failure, naming the device and the cause; empty while none happened.
    QString lastDeviceFailure() const { return mLastDeviceFailure; }

    // Engine events.
    void inPropertyListener() override;
    void errorHandling(std::uint64_t code) override;
    void errorHandlingOnMainThread();

    bool postGrowlNotificationOnClip() const { return mPostOnClip.load(); }
    void setPostGrowlNotificationOnClip(bool post) { mPostOnClip.store(post); }
    // Collector thread, after every pass.
    void dataCollectorThreadHasFinished();

    // ---- auxiliary inputs ----
    void addFilePlayer() { addAuxInput(koru::AuxInputKind::FilePlayer); }
    void addSignalGenerator() { addAuxInput(koru::AuxInputKind::SignalGenerator); }
    void addNetReceive() { addAuxInput(koru::AuxInputKind::NetReceive); }
    void removeFilePlayer() { removeAuxInput(koru::AuxInputKind::FilePlayer); }
    void removeSignalGenerator() { removeAuxInput(koru::AuxInputKind::SignalGenerator); }
    void removeNetReceive() { removeAuxInput(koru::AuxInputKind::NetReceive); }
    koru::AuxInputWrapper* filePlayer() const { return wrapper(koru::AuxInputKind::FilePlayer); }
    koru::AuxInputWrapper* signalGenerator() const {
        return wrapper(koru::AuxInputKind::SignalGenerator);
    }
    koru::AuxInputWrapper* netReceive() const { return wrapper(koru::AuxInputKind::NetReceive); }
    void addAuxInput(koru::AuxInputKind kind);
    void removeAuxInput(koru::AuxInputKind kind);
    koru::AuxInputWrapper* wrapper(koru::AuxInputKind kind) const;
    // Whether this program can make an input of that kind at all.
    bool offersAuxInput(koru::AuxInputKind kind) const;

    // ---- summing channels and their table (columns "cha", "chb") ----
    void addSummingChannel();
    void removeSummingChannelAtIndex(std::uint32_t index);
    bool canAddSummingChannel();
    int numberOfSummingTableRows();
    QVariant summingTableValue(const QString& column, int row);
    void setSummingTableValue(const QVariant& value, const QString& column, int row);

    // ---- settings ----
    QVariantMap dictionaryRepresentation();
    // An invalid value does nothing; anything but a dictionary is logged and ignored.
    void loadSettingsFromDictionary(const QVariant& dictionary);

    // ---- channel names and menus ----
    QString nameForChannelAtIndex(std::uint32_t index);
    QString nativeNameForChannelAtIndex(std::uint32_t index);
    QStringList channelNamesArray();
    QStringList nativeInputChannelNamesArray() { return channelNamesArray(); }
    std::uint32_t totalNumberChannels();
    std::uint32_t numNativeChannels();
    bool isValidChannelIndex(std::int32_t index);
    // 0 when the engine has no channel at all.
    std::uint32_t channelAfterIndex(std::uint32_t index);
    // The channel menus' entries, tagged with the channel index: the hardware and auxiliary
    // channels, and those followed by the summing channels.
    koru::ChannelMenuCache::Entries nativeAndAuxChannelMenuEntries();
    koru::ChannelMenuCache::Entries inputChannelMenuEntries();
    void deleteMenus();

    // ---- input patch ----
    // Created on first use from the engine's channel map; dropped on every property change.
    // Throws CAException when the map cannot be read.
    std::shared_ptr<KOPatchMatrix> inputPatchMatrix();
    // Throws CAException when the engine refuses the map.
    void setInputPatchMatrix(const KOPatchMatrix& matrix);

    QString sourceChannelNameAtIndex(std::uint32_t index, const KOPatchMatrix& matrix) override;
    std::uint32_t numberOfSourceChannelsForMatrix(const KOPatchMatrix& matrix) override;
    void patchMatrixDidPatchSourceChannel(KOPatchMatrix& matrix, std::int32_t source,
                                          std::uint32_t destination) override;
    void matrixDidChange(KOPatchMatrix& matrix) override;

private:
    std::unique_ptr<KOAD> makeEngine(std::uint32_t id);
    void deviceFailed(std::uint32_t id, const QString& reason);
    void showQueuedAlert();
    void queueAlert(koru::Alert alert);
    void postIOError();
    std::uint32_t presentInputDevice(std::uint32_t id) const;
    void switchDevice(std::uint32_t id);
    void showDeviceChangeErrorAlert();
    void postReload(const QVariant& object);
    void patchChanged(KOPatchMatrix& matrix);
    void dropInputPatchMatrix();
    void applyEngineMap(KOAD& engine, KOPatchMatrix& matrix);
    QVariantMap fitPatchToDevice(QVariantMap patch);
    void scheduleChannelNameSnapshot();
    void refreshChannelNameSnapshot();
    QString snapshotName(unsigned channel) const;
    void checkClipping(KOAD* engine, std::uint32_t channels);
    std::uint32_t findRestoredDevice(const koru::AudioSettingsDictionary& settings);
    void restorePatch(const QVariantMap& dictionary);
    void restoreAuxInputs(const QList<QVariantMap>& entries);
    void
    restoreSummingChannels(const std::vector<koru::AudioSettingsDictionary::SummingPair>& pairs);
    bool attach(koru::AuxInputKind kind, std::unique_ptr<koru::AuxInputWrapper> wrapper);
    void auxInputDidNotStart(koru::AuxInputKind kind, const QString& cause);
    koru::ChannelMenuCache::Entries menuEntries(std::uint32_t first, std::uint32_t end);

    Services mServices;
    std::array<std::unique_ptr<koru::AuxInputWrapper>, 3> mWrappers;
    std::array<koru::AuxInputWrapperFactory, 3> mFactories;
    std::unique_ptr<KOAD> mEngine;
    std::atomic<KOAD*> mEngineForCollector{nullptr};
    std::atomic<std::uint32_t> mCollectorChannels{0}; // the engine's, as of the last change
    std::uint32_t mDeviceID = 0;
    std::atomic<double> mSampleRate{0.0};
    koru::ChannelMenuCache mMenus;
    std::optional<ZOAudioHardwareDevice> mHardwareDevice;
    std::atomic<bool> mPostOnClip{false};
    std::shared_ptr<KOPatchMatrix> mInputPatchMatrix;
    QVariantMap mKeptAliases; // of the last matrix dropped
    bool mPatchCreated = false;
    bool mCollectorHookInstalled = false;
    std::unique_ptr<QObject> mContext; // queued main-thread calls die with the device

    std::atomic<koru::AudioDeviceNotifier*> mNotifier{nullptr};
    std::atomic<bool> mClipCheckPending{false};
    mutable std::mutex mNamesMutex; // guards mChannelNames; taken alone
    QStringList mChannelNames;
    bool mSnapshotQueued = false;

    std::mutex mErrorMutex; // the "synchronised" section of errorHandlingOnMainThread
    koru::MainThreadWakeUp mErrorWakeUp;
    std::unique_ptr<QTimer> mErrorHoldOff;
    QString mLastDeviceFailure;
    std::optional<koru::Alert> mQueuedAlert; // shown from the main loop, newest wins
};
