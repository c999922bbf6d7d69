#pragma once

#include "framework/KOInstrumentController.h"
#include "framework/KOLevelHistoryViewDelegate.h"
#include "spl/KOCalibrationStore.h"
#include "spl/KOSPLData.h"
#include "spl/KOSplAlarm.h"
#include "spl/KOSplDocuments.h"
#include "spl/ui/KOSPLHistoryView.h"
#include "spl/ui/KOSplBigWindowController.h"
#include "spl/ui/KOSplView.h"

#include <QCheckBox>
#include <QComboBox>
#include <QPushButton>
#include <QScrollArea>
#include <QSlider>
#include <QSpinBox>

#include <QPointer>
#include <QString>
#include <QTimer>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

class KOGrowlNotificationCenter;
class KOInstrumentControllerDelegate;

class KOSPLLog;
class KOSPLLogExportSource;
class KOSplInstrument;

// One SPL meter window. On every collector pass with a new spectrum it turns the instrument's
// level into a calibrated one (offset + weighted level), feeds the statistics, the read-out and
// the alarm, and publishes current, AVG and LEQ on the main thread; once a second it hands the
// per-second maxima to the log being recorded and the history view; it resets the LEQ once per
// period and keeps its settings in the session.
//
// Calibration: the offset is applied whatever the device; the flag only decides whether the
// read-out says "UNCALIBRATED". Offsets outside 0..200 dB (or not finite) are refused: a restored
// one becomes 0 with a log line, a measured one (silence gives minus infinity) is not applied.
//
// Made with create<KOSplController>("spl", dictionary, delegate). A new meter is named by the
// application's instrument list ("SPL Meter n", unique among the open instruments).
//
// Threads: dataCollection on the collector under the data-collection lock, which guards the
// statistics, the alarm and the per-second maxima; everything else on main, taking that lock
// for each change of those. Lock order: data-collection lock -> instrument mutex / view lock.
class KOSplController : public KOInstrumentController,
                        public KOLevelHistoryViewDelegate,
                        public KOSplBigWindowDelegate,
                        public KOSplMeterSource {
    Q_OBJECT
public:
    static constexpr const char* kNibName = "spl";
    static constexpr const char* kLegalMessage = "This SPL Meter does not meet standards";
    static constexpr const char* kLegalInformative =
        "This Soundpressure Level Meter may not meet the legal requirements of your local "
        "authorities.";
    static constexpr const char* kLegalIdentifier = "SPLMETER_Legal";
    static constexpr const char* kNotesPlaceholder =
        "Enter some notes for calibration, like the gain value of the audio device and type of "
        "measurement microphone.";
    static constexpr const char* kNoNotes = "No information given.";

    static constexpr const char* kInputChannelKey = "SPL.InputChannel";
    static constexpr const char* kWeightingKey = "SPL.Weighting";
    static constexpr const char* kSpeedKey = "SPL.Speed";
    static constexpr const char* kAvgTimeKey = "SPL.AvgTime";
    static constexpr const char* kCalibrationFlagKey = "SPL.CalibrationFlag";
    static constexpr const char* kCalibKey = "SPL.Calib";
    static constexpr const char* kShouldAlertKey = "SPL.ShouldAlert";
    static constexpr const char* kAlertLevelKey = "SPL.AlertLevel";
    static constexpr const char* kLeqDurationKey = "SPL.LEQ.TimeDuration";
    static constexpr const char* kLogViewVisibleKey = "SPL.LogViewVisible";
    static constexpr const char* kCalibratedDeviceKey = "SPL.CalibratedAudioDevice";
    static constexpr const char* kCalibratedDeviceUUIDKey = "SPL.CalibratedDeviceUUID";
    static constexpr const char* kHistoryViewSettingsKey = "SPL.HistoryView.Settings";
    static constexpr const char* kBigWindowControllersKey = "SPL.BigWindowControllers";

    static constexpr qint64 kLoggingTag = 17665;
    static constexpr qint64 kLogAreaTag = 17666;
    static constexpr qint64 kWeightingSubmenuTag = 17668;
    static constexpr qint64 kAverageSubmenuTag = 17669;
    static constexpr qint64 kLeqSubmenuTag = 17670;

    static constexpr double kNewAvgTime = 5.0;
    static constexpr double kRestoredAvgTime = 0.5;
    static constexpr double kDefaultLeqDuration = 1800.0;
    static constexpr float kNewAlertLevel = 80.0f;
    static constexpr double kShortAverageSeconds = 60.0;
    // The first spectra after a size change come from a half-filled window.
    static constexpr std::uint32_t kFirstCountedSpectrum = 6;
    static constexpr float kLogThreshold = 10.0f;
    static constexpr int kReadoutWidth = 281;
    static constexpr int kWindowHeight = 221;
    static constexpr int kMinimumWidthWithLog = 461;
    static constexpr int kMaximumWidthWithLog = 761;

    explicit KOSplController(KOInstrumentControllerDelegate* delegate = nullptr);
    ~KOSplController() override;

    void initWithWindowNibName(const QString& nibName, const QVariantMap* dictionary) override;
    QVariantMap dictionaryRepresentation() const override;
    void dataCollection() override;
    qint64 inputChannel() const override;
    void setInputChannel(qint64 channel) override;
    void audioPropertiesChanged() override;
    void resetAll() override;
    bool canBeClosed() const override { return !mIsLogging; }
    void applicationWillStop() override;
    QMenu* instrumentMenu() override;

    // --- Speed, weighting, averaging, LEQ --------------------------------------------------------
    void setInstrumentSpeed(std::uint32_t speed);
    std::uint32_t instrumentSpeed() const;
    void setWeighting(std::uint32_t weighting);
    std::uint32_t weighting() const;
    void setAvgTime(double seconds);
    double avgTime() const { return mAvgTimeSeconds; }
    // <= 1 (or NaN): no period ("inf", -1); otherwise clamped to 1..1800 s.
    void setLeqTimerDuration(double seconds);
    double leqTimerDuration() const { return mLEQ_Duration; }
    void resetLEQ();
    std::uint32_t instrumentCyclesFromSeconds(double seconds);
    std::uint32_t leqDurationInInstrumentCycles();
    double currentLeqRunTime() const;
    void updateViewLEQRunTime();
    const QTimer& leqResetTimer() const { return mLEQResetTimer; }
    const QTimer& loggingTimer() const { return mSPLLoggingTimer; }
    // Seconds since 2001-01-01 UTC; the system clock unless a test sets one.
    using Clock = std::function<double()>;
    void setClock(Clock clock) { mClock = std::move(clock); }
    double now() const;

    // --- Published values (main thread after each spectrum; any thread may read) -----------------
    float currentSPL() const { return mCurrentSPL.load(); }
    float currentAVG() const { return mCurrentAVG.load(); }
    float currentLEQ() const { return mCurrentLEQ.load(); }
    float currentTempSPL() const { return mCurrentTempLevel.load(); }
    // Under the data-collection lock, for tests and the read-outs.
    KOSplViewBase::Values statisticsSnapshot() const;
    // Main thread. The log is the one recorded now or last, from its first record on (the
    // remote documents need not wait for the history view's minute).
    KOSplMeterSnapshot splMeterSnapshot() const override;

    // --- Alarm
    // -------------------------------------------------------------------------------------
    void setShouldAlert(bool alert) { mShouldAlert.store(alert); }
    bool shouldAlert() const { return mShouldAlert.load(); }
    void setSplAlertLevel(float level) { mSplAlertLevel.store(level); }
    float splAlertLevel() const { return mSplAlertLevel.load(); }
    // Where alarms go; the program's notification centre when none was set.
    void setNotificationCenter(KOGrowlNotificationCenter* center) { mNotificationCenter = center; }

    // --- Logging
    // -------------------------------------------------------------------------------------
    void setLogging(bool logging);
    bool logging() const { return mIsLogging; }
    void toggleLogging() { setLogging(!mIsLogging); }
    // The log being recorded once it holds more than 59 records; null before.
    std::shared_ptr<KOSPLLog> currentSPLLog() const;
    // Finished logs of this run, oldest first (the shared log store takes them once it exists).
    const std::vector<std::shared_ptr<KOSPLLog>>& finishedLogs() const { return mFinishedLogs; }
    void logSPLLevelsToHistoryView();
    // The current log's selection (the whole log when nothing is selected) as the exporter's
    // source; null while there is no current log.
    std::shared_ptr<KOSPLLogExportSource> exportSourceForCurrentLog() const;
    // Runs the exporter sheet on the window.
    void exportSPLLogData();

    // Big displays of this meter: fed with each new level, saved with the meter.
    KOSplBigWindowController* openBigWindow(const QVariantMap* dictionary = nullptr);
    std::size_t countOfBigWindows() const;
    KOSplBigWindowController* bigWindowAtIndex(std::size_t index) const;
    void bigWindowWillClose(KOSplBigWindowController* controller) override;

    // --- Calibration ---------------------------------------------------------------------------
    // False (and nothing changed, with a log line) for an offset outside 0..200 dB.
    bool setCalibrationValue(float value);
    float calibrationValue() const { return mCalValue.load(); }
    bool calibrated() const { return mCalibrationFlag; }
    // Reference (or typed value when the reference is 0) minus the current uncalibrated level.
    bool performCalibrationWithPreselectedValue();
    bool performCalibrationToSliderLevel();
    // Takes a stored calibration; nothing is added to the store.
    void performCalibrationFromDictionary(const KOCalibrationStore::Calibration& calibration);
    bool currentDeviceMatchesStoredDevice() const;
    QString calibratedDeviceName() const { return mCalibratedDeviceName; }
    QString calibratedDeviceUID() const { return mCalibratedDeviceUID; }
    // Tests point a meter at a store of their own; the program's shared one otherwise.
    void setCalibrationStore(KOCalibrationStore* store) {
        mCalibrationStore = store;
        updateCalibrationControls();
    }
    // Shows the window of the stored calibrations.
    void showCalibrationController();
    // The panel's controls follow the calibration properties and the store.
    void updateCalibrationControls();
    KOCalibrationStore& calibrationStore() const;

    float calibrationSliderLevel() const { return mCalibrationSliderLevel.load(); }
    void setCalibrationSliderLevel(float level) { mCalibrationSliderLevel.store(level); }
    int selectedSPLCalibrationValue() const { return mSelectedSPLCalibrationValue; }
    void setSelectedSPLCalibrationValue(int value) { mSelectedSPLCalibrationValue = value; }
    int selectedSPLCalibrationTextValue() const { return mSelectedSPLCalibrationTextValue; }
    void setSelectedSPLCalibrationTextValue(int value) { mSelectedSPLCalibrationTextValue = value; }
    bool saveInCalibrationDatabase() const { return mSaveInCalibrationDatabase; }
    void setSaveInCalibrationDatabase(bool save) { mSaveInCalibrationDatabase = save; }
    QString calibrationNotes() const { return mCalibrationNotes; }
    void setCalibrationNotes(const QString& notes) { mCalibrationNotes = notes; }

    // --- Window ----------------------------------------------------------------------------------
    KOSplView* splView() const { return mSPLView; }
    KOSPLHistoryView* historyView() const { return mSPLHistoryView; }
    bool loggingViewVisible() const { return mLogViewVisible; }
    void setLoggingViewVisible(bool visible);
    void toggleVisibilityOfLoggingView() { setLoggingViewVisible(!mLogViewVisible); }
    // The zoom slider's value v (1..180) shows 1/v points per record.
    void setLoggingZoom(double sliderValue);
    double loggingZoomSliderValue() const { return mZoomSliderValue; }
    QSlider* loggingViewZoomSlider() const { return mLoggingViewZoomSlider; }
    void historyViewDidChangeSpeed(float speed) override;
    bool validateMenuItem(qint64 tag) const;
    // Closing the window while logging only hides it.
    bool windowShouldClose() const;
    void updateInstrumentMenu(QMenu* menu);

signals:
    void publishedValuesChanged();
    void calibrationValueChanged(float value);

protected:
    std::unique_ptr<QMainWindow> buildWindow(const QString& nibName) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void restoreSettings(const QVariantMap* dictionary);
    void applyCalibrationFlag();
    // The alert after a calibration the meter refused.
    void reportCalibrationFailure();
    // Window size limits and button title for the log area's visibility.
    void applyLogAreaLimits();
    void postAlarm();
    void publish(float current, float avg, float leq);

    std::unique_ptr<KOSplInstrument> mSPLInstrument;
    KOSPLData mSPLData; // data-collection lock
    KOSplAlarm mAlarm;  // data-collection lock
    float mLEQ_log = 0.0f;
    float mAVG_log = 0.0f;
    float mSPL_log = 0.0f;
    double mAvgTimeSeconds = kNewAvgTime;
    double mLastLEQResetTime = 0.0;
    double mLEQ_Duration = kDefaultLeqDuration;
    QTimer mLEQResetTimer;
    QTimer mSPLLoggingTimer;
    bool mCalibrationFlag = false;
    std::atomic<float> mCalValue{0.0f};
    QString mCalibratedDeviceName;
    QString mCalibratedDeviceUID;
    std::atomic<float> mCurrentSPL{0.0f};
    std::atomic<float> mCurrentAVG{0.0f};
    std::atomic<float> mCurrentLEQ{0.0f};
    std::atomic<float> mCurrentTempLevel{0.0f};
    std::atomic<float> mCalibrationSliderLevel{50.0f};
    int mSelectedSPLCalibrationValue = 94;
    int mSelectedSPLCalibrationTextValue = 80;
    bool mSaveInCalibrationDatabase = false;
    QString mCalibrationNotes = QString::fromLatin1(kNotesPlaceholder);
    std::atomic<bool> mShouldAlert{false};
    std::atomic<float> mSplAlertLevel{0.0f};
    bool mIsLogging = false;
    std::shared_ptr<KOSPLLog> mSPLLog;
    std::vector<std::shared_ptr<KOSPLLog>> mFinishedLogs;
    // Read by the collector: changed on main under dataCollectionLock().
    std::vector<std::unique_ptr<KOSplBigWindowController>> mBigWindows;
    bool mLogViewVisible = false;
    double mOldLogViewWidth = 0.0;
    double mZoomSliderValue = 1.0;
    std::atomic<KOGrowlNotificationCenter*> mNotificationCenter{nullptr};
    KOCalibrationStore* mCalibrationStore = nullptr;
    Clock mClock;
    bool mInChannelChange = false;

    QPointer<KOSplView> mSPLView;
    QPointer<KOSPLHistoryView> mSPLHistoryView;
    QPointer<QScrollArea> mLogArea;
    QPointer<QComboBox> mSpeedMenu;
    QPointer<QComboBox> mWeightingMenu;
    QPointer<QComboBox> mAvgTimeMenu;
    QPointer<QComboBox> mResetLEQTimeMenu;
    QPointer<QPushButton> mToggleLoggingVisibilityButton;
    QPointer<QSlider> mLoggingViewZoomSlider;
    QPointer<QPushButton> mToggleLoggingButton;
    QPointer<QComboBox> mReferenceMenu;
    QPointer<QSpinBox> mTypedValueField;
    QPointer<QSlider> mCalibrationSlider;
    QPointer<QComboBox> mStoredCalibrationsMenu;
    QPointer<QCheckBox> mSaveInDatabaseBox;
};
