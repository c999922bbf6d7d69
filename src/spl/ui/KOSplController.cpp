#include "spl/ui/KOSplController.h"

#include "app/KOGrowlNotificationCenter.h"
#include "app/UiPrompter.h"
#include "app/ui/KOExporterPanelViewController.h"
#include "engine/KOAudioDevice.h"
#include "framework/KOInstrumentControlView.h"
#include "framework/KOInstrumentWindow.h"
#include "framework/KOMenuAdditions.h"
#include "framework/ZOSuppressableAlert.h"
#include "platform/desktop/MainThread.h"
#include "platform/dispatch/KOBackgroundQueue.h"
#include "platform/fourcc/FourCC.h"
#include "platform/log/Log.h"
#include "spl/KOSPLLog.h"
#include "spl/KOSPLLogStore.h"
#include "spl/KOSplInstrument.h"
#include "spl/ui/KOCalibrationController.h"
#include "spl/ui/KOSPLHistoryView.h"
#include "spl/ui/KOSPLLogExportSource.h"
#include "spl/ui/KOSPLLoggingController.h"
#include "utility/KOString.h"
#include "utility/VEDate.h"
#include "utility/VEString.h"
#include "utility/ZODictionary.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollArea>
#include <QSlider>
#include <QSpinBox>
#include <QVBoxLayout>

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>
#include <optional>

using koru::platform::fourCC;

namespace {

constexpr std::uint32_t kSlow = fourCC("slow");
constexpr std::uint32_t kFast = fourCC("fast");
constexpr std::uint32_t kAWeighting = fourCC("a_wt");
constexpr std::uint32_t kBWeighting = fourCC("b_wt");
constexpr std::uint32_t kCWeighting = fourCC("c_wt");
constexpr qint64 kExportTag = fourCC("expo");
constexpr double kNoLeqPeriod = -1.0;
constexpr double kMaximumLeqDuration = 1800.0;

struct TimeItem {
    unsigned number;
    const char* unit;
    qint64 seconds;
};
constexpr std::array<TimeItem, 11> kAverageTimes{{{1, "sec", 1},
                                                  {2, "sec", 2},
                                                  {5, "sec", 5},
                                                  {10, "sec", 10},
                                                  {30, "sec", 30},
                                                  {1, "min", 60},
                                                  {2, "min", 120},
                                                  {5, "min", 300},
                                                  {10, "min", 600},
                                                  {15, "min", 900},
                                                  {30, "min", 1800}}};
constexpr std::array<TimeItem, 7> kLeqTimes{{{30, "sec", 30},
                                             {1, "min", 60},
                                             {2, "min", 120},
                                             {5, "min", 300},
                                             {10, "min", 600},
                                             {15, "min", 900},
                                             {30, "min", 1800}}};

QString key(const char* name) {
    return QString::fromLatin1(name);
}

bool isWeighting(std::uint32_t code) {
    return code == kAWeighting || code == kBWeighting || code == kCWeighting;
}

QString timeTitle(const TimeItem& item) {
    return QStringLiteral("%1 %2").arg(item.number).arg(QString::fromLatin1(item.unit));
}

void selectTag(QComboBox* box, qint64 tag) {
    if (!box)
        return;
    const int index = box->findData(tag);
    if (index >= 0) {
        const QSignalBlocker quiet(box);
        box->setCurrentIndex(index);
    }
}

// A finite number from the session, or nothing when it is missing (silently) or damaged (with a
// log line naming the meter and the key).
std::optional<double> numberFor(const QVariantMap& dictionary, const char* name,
                                const QString& meter) {
    const QVariant value = dictionary.value(key(name));
    if (!value.isValid())
        return std::nullopt;
    if (!ZODictionary::isNumber(value) || !std::isfinite(value.toDouble())) {
        koru::log::warn("{}: \"{}\" is not a usable number; its default is used",
                        meter.toStdString(), name);
        return std::nullopt;
    }
    return value.toDouble();
}

// A four-character code from the session; nothing when it cannot be one.
std::optional<std::uint32_t> codeFor(const QVariantMap& dictionary, const char* name,
                                     const QString& meter) {
    const std::optional<double> value = numberFor(dictionary, name, meter);
    if (!value)
        return std::nullopt;
    if (*value < 0.0 || *value > double(std::numeric_limits<std::uint32_t>::max())) {
        koru::log::warn("{}: \"{}\" is not a usable number; its default is used",
                        meter.toStdString(), name);
        return std::nullopt;
    }
    return std::uint32_t(*value);
}

std::string utf8(const QString& text) {
    return text.toStdString();
}

} // namespace

KOSplController::KOSplController(KOInstrumentControllerDelegate* delegate) {
    setDelegate(delegate);
    mLEQResetTimer.setTimerType(Qt::PreciseTimer);
    connect(&mLEQResetTimer, &QTimer::timeout, this, [this] { resetLEQ(); });
    mSPLLoggingTimer.setInterval(1000);
    connect(&mSPLLoggingTimer, &QTimer::timeout, this, [this] { logSPLLevelsToHistoryView(); });
}

KOSplController::~KOSplController() {
    mLEQResetTimer.stop();
    mSPLLoggingTimer.stop();
    // The collector may still be running until the base leaves it.
    std::vector<std::unique_ptr<KOSplBigWindowController>> windows;
    {
        const std::lock_guard lock(dataCollectionLock());
        windows.swap(mBigWindows);
    }
}

// --- Creation and persistence
// ---------------------------------------------------------------------

std::unique_ptr<QMainWindow> KOSplController::buildWindow(const QString& /*nibName*/) {
    auto window = std::make_unique<KOInstrumentWindow>();
    auto* content = new QWidget(window.get());
    auto* row = new QHBoxLayout(content);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(0);
    auto* view = new KOSplView(content);
    view->setMinimumWidth(kReadoutWidth);
    view->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Expanding);
    view->setFixedWidth(kReadoutWidth);
    row->addWidget(view);
    auto* area = new QScrollArea(content);
    area->setFrameShape(QFrame::NoFrame);
    area->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    area->setWidgetResizable(false);
    auto* history = new KOSPLHistoryView;
    history->resize(180, kWindowHeight);
    area->setWidget(history);
    area->hide();
    row->addWidget(area, 1);
    window->setCentralWidget(content);
    window->resize(kReadoutWidth, kWindowHeight);
    mSPLView = view;
    mSPLHistoryView = history;
    mLogArea = area;
    view->setInstrumentController(this);

    // The control panel.
    auto* panel = new QWidget(window.get());
    panel->hide();
    panel->resize(180, 165);
    auto* form = new QFormLayout(panel);
    auto* speed = new QComboBox(panel);
    speed->addItem(QStringLiteral("Slow"), qint64(kSlow));
    speed->addItem(QStringLiteral("Fast"), qint64(kFast));
    connect(speed, &QComboBox::activated, this,
            [this, speed](int index) { setInstrumentSpeed(speed->itemData(index).toUInt()); });
    auto* channel = new QComboBox(panel);
    auto* weightingBox = new QComboBox(panel);
    for (std::uint32_t code : {kAWeighting, kBWeighting, kCWeighting})
        weightingBox->addItem(KOString::stringWithWeightingType(code), qint64(code));
    connect(weightingBox, &QComboBox::activated, this, [this, weightingBox](int index) {
        setWeighting(weightingBox->itemData(index).toUInt());
    });
    auto* average = new QComboBox(panel);
    for (const TimeItem& item : kAverageTimes)
        average->addItem(timeTitle(item), item.seconds);
    connect(average, &QComboBox::activated, this,
            [this, average](int index) { setAvgTime(average->itemData(index).toDouble()); });
    auto* leq = new QComboBox(panel);
    for (const TimeItem& item : kLeqTimes)
        leq->addItem(timeTitle(item), item.seconds);
    leq->addItem(QStringLiteral("inf"), qint64(-1));
    connect(leq, &QComboBox::activated, this,
            [this, leq](int index) { setLeqTimerDuration(leq->itemData(index).toDouble()); });
    form->addRow(QStringLiteral("Speed"), speed);
    form->addRow(QStringLiteral("Channel"), channel);
    form->addRow(QStringLiteral("Weighting"), weightingBox);
    form->addRow(QStringLiteral("Average"), average);
    form->addRow(QStringLiteral("LEQ Reset"), leq);
    auto* buttons = new QHBoxLayout;
    auto* logButton = new QPushButton(QStringLiteral("Show Log"), panel);
    connect(logButton, &QPushButton::clicked, this, [this] { toggleVisibilityOfLoggingView(); });
    buttons->addWidget(logButton);
    form->addRow(buttons);

    // Calibration: against a reference tone, by the slider, or from the store.
    auto* reference = new QComboBox(panel);
    for (int value : {94, 104, 114})
        reference->addItem(QStringLiteral("%1 dB").arg(value), value);
    reference->addItem(QStringLiteral("Other"), 0);
    connect(reference, &QComboBox::activated, this, [this, reference](int index) {
        setSelectedSPLCalibrationValue(reference->itemData(index).toInt());
    });
    auto* typed = new QSpinBox(panel);
    typed->setRange(30, 130);
    typed->setSuffix(QStringLiteral(" dB"));
    connect(typed, &QSpinBox::valueChanged, this,
            [this](int value) { setSelectedSPLCalibrationTextValue(value); });
    auto* calibrate = new QPushButton(QStringLiteral("Calibrate"), panel);
    connect(calibrate, &QPushButton::clicked, this, [this] {
        if (!performCalibrationWithPreselectedValue())
            reportCalibrationFailure();
    });
    auto* slider = new QSlider(Qt::Horizontal, panel);
    slider->setRange(0, int(KOCalibrationDictionary::kMaximumValue) * 10);
    connect(slider, &QSlider::valueChanged, this,
            [this](int tenths) { setCalibrationSliderLevel(float(tenths) / 10.0f); });
    auto* live = new QLabel(panel);
    connect(this, &KOSplController::publishedValuesChanged, live,
            [this, live] { live->setText(KOString::stringFromSpLevel(currentTempSPL())); });
    auto* applySlider = new QPushButton(QStringLiteral("Apply"), panel);
    connect(applySlider, &QPushButton::clicked, this, [this] {
        if (!performCalibrationToSliderLevel())
            reportCalibrationFailure();
    });
    auto* stored = new QComboBox(panel);
    auto* useStored = new QPushButton(QStringLiteral("Use"), panel);
    connect(useStored, &QPushButton::clicked, this, [this, stored] {
        const qsizetype index = stored->currentData().toLongLong();
        performCalibrationFromDictionary(calibrationStore().objectInCalibrationsAtIndex(
            stored->currentIndex() < 0 ? -1 : index));
    });
    auto* save = new QCheckBox(QStringLiteral("Save in calibration database"), panel);
    connect(save, &QCheckBox::toggled, this, [this](bool on) { setSaveInCalibrationDatabase(on); });
    auto* notes = new QPlainTextEdit(panel);
    notes->setPlaceholderText(QString::fromLatin1(kNotesPlaceholder));
    notes->setMaximumHeight(60);
    connect(notes, &QPlainTextEdit::textChanged, this, [this, notes] {
        const QString text = notes->toPlainText();
        setCalibrationNotes(text.isEmpty() ? QString::fromLatin1(kNotesPlaceholder) : text);
    });
    auto* storeWindow = new QPushButton(QStringLiteral("Calibrations..."), panel);
    connect(storeWindow, &QPushButton::clicked, this, [this] { showCalibrationController(); });
    auto* referenceRow = new QHBoxLayout;
    referenceRow->addWidget(reference);
    referenceRow->addWidget(typed);
    referenceRow->addWidget(calibrate);
    form->addRow(QStringLiteral("Reference"), referenceRow);
    auto* sliderRow = new QHBoxLayout;
    sliderRow->addWidget(slider, 1);
    sliderRow->addWidget(live);
    sliderRow->addWidget(applySlider);
    form->addRow(QStringLiteral("Offset"), sliderRow);
    auto* storedRow = new QHBoxLayout;
    storedRow->addWidget(stored, 1);
    storedRow->addWidget(useStored);
    storedRow->addWidget(storeWindow);
    form->addRow(QStringLiteral("Stored"), storedRow);
    form->addRow(save);
    form->addRow(notes);
    mReferenceMenu = reference;
    mTypedValueField = typed;
    mCalibrationSlider = slider;
    mStoredCalibrationsMenu = stored;
    mSaveInDatabaseBox = save;
    mSpeedMenu = speed;
    mWeightingMenu = weightingBox;
    mAvgTimeMenu = average;
    mResetLEQTimeMenu = leq;
    mToggleLoggingVisibilityButton = logButton;
    setMInputMenu(channel);
    setControlViewController(panel);
    history->setDelegate(this);

    // The history's overlay: zoom, which curves are drawn and their colours, and logging.
    KOInstrumentControlView* overlay = history->controlView();
    overlay->setSize(QSizeF(120, 105));
    QSlider* zoom = overlay->addSliderWithFrame(
        QRectF(10, 80, 100, 15), this,
        [this](QWidget* sender) { setLoggingZoom(static_cast<QSlider*>(sender)->value()); },
        QStringLiteral("Zoom"));
    zoom->setRange(1, 180);
    mLoggingViewZoomSlider = zoom;
    const std::array<std::pair<const char*, const char*>, 3> curves{
        {{"SPL", "drawSPL"}, {"LEQ", "drawLEQ"}, {"AVG", "drawAVG"}}};
    const std::array<const char*, 3> colours{"splColor", "leqColor", "avgColor"};
    for (std::size_t i = 0; i < curves.size(); ++i) {
        const double y = 55.0 - 18.0 * double(i);
        overlay->addCheckBoxWithFrame(QRectF(10, y, 60, 15), history, curves[i].second,
                                      QString::fromLatin1(curves[i].first));
        overlay->addColorWellWithFrame(QRectF(80, y, 30, 15), history, colours[i]);
    }
    QPushButton* logging = overlay->addButtonWithFrame(QRectF(10, 0, 100, 15), this,
                                                       [this](QWidget*) { toggleLogging(); });
    logging->setText(QStringLiteral("Start Log"));
    mToggleLoggingButton = logging;
    return window;
}

void KOSplController::initWithWindowNibName(const QString& nibName, const QVariantMap* dictionary) {
    KOInstrumentController::initWithWindowNibName(nibName, dictionary);
    restoreSettings(dictionary);
    if (!dictionary) {
        // A new meter.
        if (QWidget* window = instrumentWindow())
            ZOSuppressableAlert::goForAlertWithMessageText(
                key(kLegalMessage), key(kLegalInformative), key(kLegalIdentifier), window);
        setSplAlertLevel(kNewAlertLevel);
        setLeqTimerDuration(kDefaultLeqDuration);
    }
}

void KOSplController::restoreSettings(const QVariantMap* dictionary) {
    // The instrument takes the speed's size when this is none it accepts.
    const double rate = currentSampleRate();
    const std::uint32_t initialSize = rate > 0.0 && rate < 1e9 ? std::uint32_t(rate) : 0;
    mSPLInstrument = std::make_unique<KOSplInstrument>(initialSize, kSlow, kAWeighting, 44100.0);
    resetLEQ();
    setLeqTimerDuration(kDefaultLeqDuration);

    double avg = kNewAvgTime;
    std::uint32_t weightingCode = kAWeighting;
    std::uint32_t speed = kSlow;
    qint64 channel = 0;
    if (dictionary) {
        const QVariantMap& d = *dictionary;
        const QString meter = name();
        avg = numberFor(d, kAvgTimeKey, meter).value_or(kRestoredAvgTime);
        if (!(avg > 0.0)) {
            koru::log::warn("{}: averaging time {} replaced by {} s", utf8(name()), avg,
                            kRestoredAvgTime);
            avg = kRestoredAvgTime;
        }
        weightingCode = codeFor(d, kWeightingKey, meter).value_or(kAWeighting);
        if (!isWeighting(weightingCode)) {
            koru::log::warn("{}: unknown weighting {} replaced by A-weighting", utf8(name()),
                            weightingCode);
            weightingCode = kAWeighting;
        }
        channel = qint64(std::clamp(numberFor(d, kInputChannelKey, meter).value_or(0.0), 0.0,
                                    double(std::numeric_limits<std::uint32_t>::max())));
        speed = codeFor(d, kSpeedKey, meter).value_or(kSlow);
        if (speed != kSlow && speed != kFast)
            speed = kFast; // anything but 'slow' measures fast
        const QVariant logVisible = d.value(key(kLogViewVisibleKey));
        setLoggingViewVisible(ZODictionary::isNumber(logVisible) && logVisible.toBool());
        double calibration = numberFor(d, kCalibKey, meter).value_or(0.0);
        if (calibration != 0.0 && !KOCalibrationDictionary::isAcceptableValue(calibration)) {
            koru::log::warn("{}: a calibration of {} dB is outside {}..{} dB; the meter is "
                            "uncalibrated",
                            utf8(name()), calibration, KOCalibrationDictionary::kMinimumValue,
                            KOCalibrationDictionary::kMaximumValue);
            calibration = 0.0;
        }
        mCalValue.store(float(calibration));
        emit calibrationValueChanged(float(calibration));
        setCalibrationSliderLevel(float(calibration));
        setLeqTimerDuration(numberFor(d, kLeqDurationKey, meter).value_or(kDefaultLeqDuration));
        const QVariant device = d.value(key(kCalibratedDeviceKey));
        if (device.typeId() == QMetaType::QString)
            mCalibratedDeviceName = device.toString();
        const QVariant uid = d.value(key(kCalibratedDeviceUUIDKey));
        if (uid.typeId() == QMetaType::QString)
            mCalibratedDeviceUID = uid.toString();
    }
    setAvgTime(avg);
    setWeighting(weightingCode);
    // Applied below once the instrument has its host (the channel count comes with it).
    KOAudioDevice::sharedAudioDevice().addInputClient(mSPLInstrument.get());
    setInputChannel(channel);
    setInstrumentSpeed(speed);
    if (mSPLView) {
        mSPLView->setInstrumentSpeed(instrumentSpeed());
        mSPLView->setWeightingType(weighting());
    }
    addToDataCollectorThread();
    audioPropertiesChanged();

    if (dictionary) {
        const QVariantMap& d = *dictionary;
        const QVariant alert = d.value(key(kShouldAlertKey));
        setShouldAlert(ZODictionary::isNumber(alert) && alert.toBool());
        setSplAlertLevel(float(numberFor(d, kAlertLevelKey, name()).value_or(0.0)));
        const QVariant bigWindows = d.value(key(kBigWindowControllersKey));
        if (bigWindows.typeId() == QMetaType::QVariantList) {
            for (const QVariant& entry : bigWindows.toList()) {
                if (entry.typeId() != QMetaType::QVariantMap) {
                    koru::log::warn("{}: a saved big SPL window was skipped: not a dictionary",
                                    utf8(name()));
                    continue;
                }
                const QVariantMap window = entry.toMap();
                openBigWindow(&window);
            }
        }
        if (mSPLHistoryView) {
            const QVariant settings = d.value(key(kHistoryViewSettingsKey));
            if (settings.typeId() == QMetaType::QVariantMap)
                mSPLHistoryView->loadSettingsFromDictionary(settings.toMap());
        }
    }
    applyLogAreaLimits();
    updateCalibrationControls();
    connect(&calibrationStore(), &KOCalibrationStore::calibrationsChanged, this,
            &KOSplController::updateCalibrationControls, Qt::QueuedConnection);
    mSPLLoggingTimer.start();
}

void KOSplController::updateCalibrationControls() {
    if (mReferenceMenu)
        selectTag(mReferenceMenu, mSelectedSPLCalibrationValue);
    if (mTypedValueField) {
        const QSignalBlocker quiet(mTypedValueField);
        mTypedValueField->setValue(mSelectedSPLCalibrationTextValue);
    }
    if (mCalibrationSlider) {
        const QSignalBlocker quiet(mCalibrationSlider);
        mCalibrationSlider->setValue(int(std::lround(calibrationSliderLevel() * 10.0f)));
    }
    if (mSaveInDatabaseBox) {
        const QSignalBlocker quiet(mSaveInDatabaseBox);
        mSaveInDatabaseBox->setChecked(mSaveInCalibrationDatabase);
    }
    if (mStoredCalibrationsMenu) {
        const QSignalBlocker quiet(mStoredCalibrationsMenu);
        mStoredCalibrationsMenu->clear();
        const auto calibrations = calibrationStore().calibrations();
        for (std::size_t i = 0; i < calibrations.size(); ++i)
            mStoredCalibrationsMenu->addItem(calibrations[i]->menuName(), qint64(i));
    }
}

void KOSplController::reportCalibrationFailure() {
    koru::Alert alert;
    alert.messageText = QStringLiteral("Calibration failed");
    alert.informativeText =
        QStringLiteral("The meter measured no usable level, or the offset would lie outside "
                       "%1 to %2 dB. Play the reference tone on the selected channel and try "
                       "again.")
            .arg(double(KOCalibrationDictionary::kMinimumValue))
            .arg(double(KOCalibrationDictionary::kMaximumValue));
    koru::uiPrompter().runModal(alert);
}

void KOSplController::showCalibrationController() {
    closeControlPanel();
    KOCalibrationController& window = mCalibrationStore
                                          ? *new KOCalibrationController(*mCalibrationStore)
                                          : KOCalibrationController::sharedController();
    if (mCalibrationStore)
        window.setAttribute(Qt::WA_DeleteOnClose);
    window.showWindow();
}

QVariantMap KOSplController::dictionaryRepresentation() const {
    QVariantMap d = KOInstrumentController::dictionaryRepresentation();
    d.insert(key(kInputChannelKey), qint64(std::max<qint64>(inputChannel(), 0)));
    d.insert(key(kWeightingKey), qint64(weighting()));
    d.insert(key(kSpeedKey), qint64(instrumentSpeed()));
    d.insert(key(kAvgTimeKey), mAvgTimeSeconds);
    d.insert(key(kCalibrationFlagKey), mCalibrationFlag);
    d.insert(key(kCalibKey), double(mCalValue.load()));
    d.insert(key(kShouldAlertKey), shouldAlert());
    d.insert(key(kAlertLevelKey), double(splAlertLevel()));
    d.insert(key(kLeqDurationKey), mLEQ_Duration);
    d.insert(key(kLogViewVisibleKey), mLogViewVisible);
    if (!mCalibratedDeviceName.isEmpty())
        d.insert(key(kCalibratedDeviceKey), mCalibratedDeviceName);
    if (!mCalibratedDeviceUID.isEmpty())
        d.insert(key(kCalibratedDeviceUUIDKey), mCalibratedDeviceUID);
    if (mSPLHistoryView)
        d.insert(key(kHistoryViewSettingsKey), mSPLHistoryView->settingsDictionary());
    QVariantList bigWindows;
    for (const auto& window : mBigWindows)
        bigWindows.append(window->dictionaryRepresentation());
    d.insert(key(kBigWindowControllersKey), bigWindows);
    return d;
}

// --- Measuring -----------------------------------------------------------------------------------

void KOSplController::dataCollection() {
    if (!mSPLInstrument || !mSPLInstrument->HasNewData() ||
        mSPLInstrument->Analyses() < kFirstCountedSpectrum)
        return;
    const float level = mSPLInstrument->GetLevel();
    mCurrentTempLevel.store(mCalibrationSliderLevel.load() + level);
    mSPLData.Add(mCalValue.load() + level);
    if (mSPLView)
        mSPLView->setData(mSPLData);
    for (const auto& window : mBigWindows)
        window->setData(mSPLData);
    const float current = mSPLData.Current();
    const float avg = mSPLData.Avg();
    const float leq = mSPLData.Leq();
    mLEQ_log = std::max(mLEQ_log, leq);
    mSPL_log = std::max(mSPL_log, current);
    mAVG_log = std::max(mAVG_log, avg);
    if (mAlarm.update(shouldAlert(), current, splAlertLevel()))
        postAlarm();
    publish(current, avg, leq);
}

void KOSplController::postAlarm() {
    KOGrowlNotificationCenter* center = mNotificationCenter.load();
    const QString text = QString::asprintf("SPL exceeded %.0fdB", double(splAlertLevel()));
    const void* sender = this;
    KODispatchBackground([center, text, sender] {
        KOGrowlNotificationCenter& target =
            center ? *center : KOGrowlNotificationCenter::sharedGrowlCenter();
        target.postSPLExceededGrowlNotification(sender, text);
    });
}

void KOSplController::publish(float current, float avg, float leq) {
    QPointer<KOSplController> self(this);
    koru::platform::postToMainThread(this, [self, current, avg, leq] {
        if (!self)
            return;
        self->mCurrentSPL.store(current);
        self->mCurrentLEQ.store(leq);
        self->mCurrentAVG.store(avg);
        emit self->publishedValuesChanged();
    });
}

KOSplViewBase::Values KOSplController::statisticsSnapshot() const {
    const std::lock_guard lock(dataCollectionLock());
    KOSplViewBase::Values values;
    mSPLData.GetValues(values.primary, values.avg, values.peak, values.leq);
    values.prediction = mSPLData.PredictedLeq();
    return values;
}

void KOSplController::resetAll() {
    const std::lock_guard lock(dataCollectionLock());
    mSPLData.ResetMax();
}

qint64 KOSplController::inputChannel() const {
    return mSPLInstrument ? qint64(mSPLInstrument->Channel()) : qint64(0xFFFFFFFF);
}

void KOSplController::setInputChannel(qint64 channel) {
    if (!mSPLInstrument || mInChannelChange)
        return;
    mInChannelChange = true;
    const auto wanted = std::uint32_t(std::clamp<qint64>(channel, 0, 0xFFFFFFFF));
    mSPLInstrument->SetChannel(wanted);
    if (mSPLInstrument->Channel() != wanted)
        koru::log::warn("{}: there is no input channel {}; channel {} is measured", utf8(name()),
                        wanted, mSPLInstrument->Channel());
    {
        const std::lock_guard lock(dataCollectionLock());
        mSPLData.ResetLEQ();
        mSPLData.ClearAverage();
    }
    audioPropertiesChanged();
    mInChannelChange = false;
}

void KOSplController::audioPropertiesChanged() {
    if (!mSPLInstrument)
        return;
    setAvgTime(mAvgTimeSeconds);
    mSPLInstrument->SampleRateChanged(currentSampleRate());
    if (mSPLView) {
        mSPLView->setInstrumentSpeed(instrumentSpeed());
        mSPLView->setWeightingType(weighting());
    }
    for (const auto& window : mBigWindows) {
        window->setInstrumentSpeed(instrumentSpeed());
        window->setWeightingType(weighting());
    }
    selectTag(mWeightingMenu, weighting());
    selectTag(mSpeedMenu, instrumentSpeed());
    {
        const std::lock_guard lock(dataCollectionLock());
        mSPLData.ClearAverage();
        mSPLData.ResetLEQ();
        mSPLData.ClearAverage();
    }
    resetLEQ();
    applyCalibrationFlag();
    const bool changing = mInChannelChange;
    mInChannelChange = true; // the base rebinds the channel pop-up
    KOInstrumentController::audioPropertiesChanged();
    mInChannelChange = changing;
}

void KOSplController::applyCalibrationFlag() {
    mCalibrationFlag = mCalValue.load() != 0.0f && currentDeviceMatchesStoredDevice();
    if (mCalValue.load() != 0.0f && !mCalibrationFlag)
        koru::log::info("{}: calibrated for \"{}\", not for the current device \"{}\"",
                        utf8(name()), utf8(mCalibratedDeviceName), utf8(currentAudioDeviceName()));
    if (mSPLView)
        mSPLView->setCalibrated(mCalibrationFlag);
}

// --- Speed, weighting, averaging, LEQ ------------------------------------------------------------

double KOSplController::now() const {
    return mClock ? mClock() : VEDate::timeIntervalSinceReferenceDate(QDateTime::currentDateTime());
}

std::uint32_t KOSplController::instrumentSpeed() const {
    return mSPLInstrument ? mSPLInstrument->Speed() : 0;
}

void KOSplController::setInstrumentSpeed(std::uint32_t speed) {
    if (!mSPLInstrument || speed == mSPLInstrument->Speed())
        return;
    if (mIsLogging) {
        setLogging(false);
        setLogging(true);
        resetLEQ();
    }
    mSPLInstrument->SetSpeed(speed);
    setAvgTime(mAvgTimeSeconds);
    if (mSPLView)
        mSPLView->setInstrumentSpeed(instrumentSpeed());
    for (const auto& window : mBigWindows)
        window->setInstrumentSpeed(instrumentSpeed());
    selectTag(mSpeedMenu, instrumentSpeed());
}

std::uint32_t KOSplController::weighting() const {
    return mSPLInstrument ? mSPLInstrument->Weighting() : 0;
}

void KOSplController::setWeighting(std::uint32_t code) {
    if (!mSPLInstrument || code == mSPLInstrument->Weighting())
        return;
    if (mIsLogging) {
        setLogging(false);
        setLogging(true);
        resetLEQ();
    }
    mSPLInstrument->SetWeighting(code);
    if (mSPLView)
        mSPLView->setWeightingType(weighting());
    for (const auto& window : mBigWindows)
        window->setWeightingType(weighting());
    selectTag(mWeightingMenu, weighting());
}

void KOSplController::setAvgTime(double seconds) {
    const std::uint32_t cycles = instrumentCyclesFromSeconds(seconds);
    {
        const std::lock_guard lock(dataCollectionLock());
        mSPLData.SetAverageLength(cycles);
    }
    selectTag(mAvgTimeMenu, qint64(seconds));
    mAvgTimeSeconds = seconds;
}

void KOSplController::setLeqTimerDuration(double seconds) {
    resetLEQ();
    mLEQResetTimer.stop();
    if (seconds > 1.0) {
        mLEQ_Duration = std::clamp(seconds, 1.0, kMaximumLeqDuration);
        mLEQResetTimer.start(int(mLEQ_Duration * 1000.0));
        const std::uint32_t target = leqDurationInInstrumentCycles() + 1;
        const std::uint32_t shortLength = instrumentCyclesFromSeconds(kShortAverageSeconds);
        const std::lock_guard lock(dataCollectionLock());
        mSPLData.SetTargetCount(target);
        mSPLData.SetShortAverageLength(shortLength);
    } else {
        mLEQ_Duration = kNoLeqPeriod;
        const std::lock_guard lock(dataCollectionLock());
        mSPLData.SetTargetCount(0);
    }
    selectTag(mResetLEQTimeMenu, qint64(mLEQ_Duration));
}

void KOSplController::resetLEQ() {
    mLastLEQResetTime = now();
    const std::uint32_t target = mLEQ_Duration > 0.0 ? leqDurationInInstrumentCycles() + 1 : 0;
    const std::lock_guard lock(dataCollectionLock());
    mSPLData.ResetLEQ();
    mSPLData.SetTargetCount(target);
}

std::uint32_t KOSplController::instrumentCyclesFromSeconds(double seconds) {
    const double rate = currentSampleRate();
    const std::uint32_t size = mSPLInstrument ? mSPLInstrument->FFTSize() : 0;
    if (!(rate > 0.0) || size / 8 == 0)
        koru::log::warn("{}: sample rate {} Hz or FFT size {} unusable; counting with 44100 Hz",
                        utf8(name()), rate, size);
    return splInstrumentCycles(rate, size, seconds);
}

std::uint32_t KOSplController::leqDurationInInstrumentCycles() {
    return instrumentCyclesFromSeconds(mLEQ_Duration);
}

double KOSplController::currentLeqRunTime() const {
    return now() - mLastLEQResetTime;
}

void KOSplController::updateViewLEQRunTime() {
    if (!mSPLView)
        return;
    const double second = std::floor(now());
    mSPLView->setLeqRunTimeString(VEString::stringFromSecondsWithoutLead(
        std::uint32_t(std::max(0.0, std::trunc(second - mLastLEQResetTime)))));
    if (mLEQ_Duration > 0.0)
        mSPLView->setNextLEQResetTimeString(
            QStringLiteral("(%1)").arg(VEString::stringFromSecondsWithoutLead(std::uint32_t(
                std::max(0.0, std::ceil(mLEQ_Duration + mLastLEQResetTime - second))))));
    else
        mSPLView->setNextLEQResetTimeString(std::nullopt);
}

// --- Logging -------------------------------------------------------------------------------------

void KOSplController::setLogging(bool logging) {
    if (logging == mIsLogging)
        return;
    mIsLogging = logging;
    if (mToggleLoggingButton)
        mToggleLoggingButton->setText(logging ? QStringLiteral("Pause Log")
                                              : QStringLiteral("Start Log"));
    if (mSPLHistoryView)
        mSPLHistoryView->controllerDidChangeLoggingStatus(logging);
    if (!logging) {
        if (mSPLLog) {
            mFinishedLogs.push_back(mSPLLog);
            // A log still being recorded is not checkpointed: it reaches the store when logging
            // stops (a quit stops it too).
            KOSPLLogStore::sharedStore().addLog(mSPLLog);
        }
        return;
    }
    auto log = std::make_shared<KOSPLLog>();
    log->setWeight(weighting());
    log->setSpeed(instrumentSpeed());
    log->setName(QStringLiteral("New SPL Log, %1")
                     .arg(VEDate::shortDateTimeString(QDateTime::currentDateTime())));
    mSPLLog = log;
    if (mSPLHistoryView)
        mSPLHistoryView->setSplLog(log);
}

KOSplMeterSnapshot KOSplController::splMeterSnapshot() const {
    KOSplMeterSnapshot snapshot;
    snapshot.weighting = weighting();
    snapshot.speed = instrumentSpeed();
    snapshot.spl = currentSPL();
    snapshot.avg = currentAVG();
    snapshot.leq = currentLEQ();
    snapshot.avgTime = mAvgTimeSeconds;
    snapshot.leqDuration = mLEQ_Duration;
    snapshot.leqRunningSeconds = currentLeqRunTime();
    snapshot.log = mSPLLog;
    return snapshot;
}

std::shared_ptr<KOSPLLog> KOSplController::currentSPLLog() const {
    if (!mSPLInstrument || !mSPLHistoryView || !mSPLHistoryView->hasSPLData())
        return nullptr;
    return mSPLLog;
}

void KOSplController::logSPLLevelsToHistoryView() {
    updateViewLEQRunTime();
    bool added = false;
    {
        const std::lock_guard lock(dataCollectionLock());
        if (mSPL_log < kLogThreshold || mAVG_log < kLogThreshold || mLEQ_log < kLogThreshold)
            return;
        if (mIsLogging && mSPLLog) {
            mSPLLog->addSPL(mSPL_log, mAVG_log, mLEQ_log);
            added = true;
        }
        mSPL_log = mAVG_log = mLEQ_log = 0.0f;
    }
    if (added && mSPLHistoryView)
        mSPLHistoryView->splLogDidAddData();
}

std::shared_ptr<KOSPLLogExportSource> KOSplController::exportSourceForCurrentLog() const {
    const std::shared_ptr<KOSPLLog> log = currentSPLLog();
    if (!log)
        return nullptr;
    const auto [start, length] = mSPLHistoryView->selectionRange();
    log->setSelectionRange(start, length);
    return std::make_shared<KOSPLLogExportSource>(log);
}

void KOSplController::exportSPLLogData() {
    if (auto source = exportSourceForCurrentLog())
        KOExporterPanelViewController::runExporterSheetInWindow(instrumentWindow(),
                                                                std::move(source));
}

KOSplBigWindowController* KOSplController::openBigWindow(const QVariantMap* dictionary) {
    auto window = dictionary ? std::make_unique<KOSplBigWindowController>(*dictionary)
                             : std::make_unique<KOSplBigWindowController>();
    window->setDelegate(this);
    window->setInstrumentSpeed(instrumentSpeed());
    window->setWeightingType(weighting());
    window->window()->setWindowTitle(name());
    KOSplBigWindowController* made = window.get();
    {
        const std::lock_guard lock(dataCollectionLock());
        mBigWindows.push_back(std::move(window));
    }
    made->window()->show();
    return made;
}

std::size_t KOSplController::countOfBigWindows() const {
    return mBigWindows.size();
}

KOSplBigWindowController* KOSplController::bigWindowAtIndex(std::size_t index) const {
    return index < mBigWindows.size() ? mBigWindows[index].get() : nullptr;
}

void KOSplController::bigWindowWillClose(KOSplBigWindowController* controller) {
    std::unique_ptr<KOSplBigWindowController> closing;
    {
        const std::lock_guard lock(dataCollectionLock());
        const auto found =
            std::find_if(mBigWindows.begin(), mBigWindows.end(),
                         [controller](const auto& window) { return window.get() == controller; });
        if (found == mBigWindows.end())
            return;
        closing = std::move(*found);
        mBigWindows.erase(found);
    }
    closing->setDelegate(nullptr);
    // Its window is inside its own close event: it goes once that has been handled.
    closing.release()->deleteLater();
}

bool KOSplController::windowShouldClose() const {
    // The meter goes on measuring while it logs or feeds a big display: the window only hides.
    return !mIsLogging && mBigWindows.empty();
}

bool KOSplController::eventFilter(QObject* watched, QEvent* event) {
    if (watched == instrumentWindow() && event->type() == QEvent::Close && !windowShouldClose()) {
        // A meter that is logging keeps running: closing only hides it.
        event->ignore();
        hideInstrument();
        return true;
    }
    if (watched == instrumentWindow() && event->type() == QEvent::Close) {
        // The window goes: so do the periodic LEQ reset and the once-a-second log tick.
        mLEQResetTimer.stop();
        mSPLLoggingTimer.stop();
    }
    return KOInstrumentController::eventFilter(watched, event);
}

void KOSplController::applicationWillStop() {
    const bool wasLogging = mIsLogging;
    setLogging(false);
    // The finished log must be on disk before the process ends.
    if (wasLogging && !KOSPLLogStore::sharedStore().waitUntilSaved())
        koru::log::error("{}: the SPL log could not be stored at quit", utf8(name()));
    KOInstrumentController::applicationWillStop();
}

// --- Calibration ---------------------------------------------------------------------------------

KOCalibrationStore& KOSplController::calibrationStore() const {
    return mCalibrationStore ? *mCalibrationStore : KOCalibrationStore::sharedStore();
}

bool KOSplController::setCalibrationValue(float value) {
    if (!KOCalibrationDictionary::isAcceptableValue(value) || value == 0.0f) {
        koru::log::warn("{}: a calibration of {} dB is outside {}..{} dB and was not applied",
                        utf8(name()), value, KOCalibrationDictionary::kMinimumValue,
                        KOCalibrationDictionary::kMaximumValue);
        return false;
    }
    mCalValue.store(value);
    emit calibrationValueChanged(value);
    mCalibrationFlag = true;
    if (mSPLView)
        mSPLView->setCalibrated(true);
    const QString notes =
        mCalibrationNotes == key(kNotesPlaceholder) ? key(kNoNotes) : mCalibrationNotes;
    setCalibrationSliderLevel(value);
    updateCalibrationControls();
    mCalibratedDeviceName = currentAudioDeviceName();
    mCalibratedDeviceUID = currentAudioDeviceUID();
    if (mSaveInCalibrationDatabase)
        calibrationStore().addCalibration(value, mCalibratedDeviceName, mCalibratedDeviceUID,
                                          notes);
    return true;
}

bool KOSplController::performCalibrationWithPreselectedValue() {
    const int reference = mSelectedSPLCalibrationValue != 0 ? mSelectedSPLCalibrationValue
                                                            : mSelectedSPLCalibrationTextValue;
    const float level = mSPLInstrument ? mSPLInstrument->GetLevel() : -INFINITY;
    closeControlPanel();
    if (!std::isfinite(level)) {
        koru::log::warn("{}: no signal to calibrate against (level {})", utf8(name()), level);
        return false;
    }
    return setCalibrationValue(float(reference) - level);
}

bool KOSplController::performCalibrationToSliderLevel() {
    closeControlPanel();
    return setCalibrationValue(calibrationSliderLevel());
}

void KOSplController::performCalibrationFromDictionary(
    const KOCalibrationStore::Calibration& calibration) {
    if (!calibration)
        return;
    mCalValue.store(calibration->calibrationValue());
    emit calibrationValueChanged(calibration->calibrationValue());
    mCalibratedDeviceUID = calibration->deviceUUID();
    mCalibratedDeviceName = calibration->audioDeviceName();
    applyCalibrationFlag();
    closeControlPanel();
}

bool KOSplController::currentDeviceMatchesStoredDevice() const {
    if (currentAudioDeviceName() == mCalibratedDeviceName && !mCalibratedDeviceName.isEmpty())
        return true;
    const QString uid = currentAudioDeviceUID();
    return !uid.isEmpty() && uid == mCalibratedDeviceUID;
}

// --- Window
// ----------------------------------------------------------------------------------------

void KOSplController::applyLogAreaLimits() {
    QMainWindow* window = instrumentWindow();
    if (!window)
        return;
    if (mLogViewVisible) {
        window->setMinimumSize(kMinimumWidthWithLog, kWindowHeight);
        window->setMaximumSize(kMaximumWidthWithLog, kWindowHeight);
    } else {
        window->setMinimumSize(kReadoutWidth, kWindowHeight);
        window->setMaximumSize(kReadoutWidth, kWindowHeight);
    }
    if (mToggleLoggingVisibilityButton)
        mToggleLoggingVisibilityButton->setText(mLogViewVisible ? QStringLiteral("Hide Log")
                                                                : QStringLiteral("Show Log"));
}

void KOSplController::setLoggingViewVisible(bool visible) {
    if (visible == mLogViewVisible)
        return;
    mLogViewVisible = visible;
    QMainWindow* window = instrumentWindow();
    if (!window || !mLogArea)
        return;
    QRect frame = window->geometry();
    if (visible) {
        const double width = mOldLogViewWidth < 80.0 ? 150.0 : mOldLogViewWidth;
        mLogArea->show();
        frame.setLeft(frame.left() - int(width));
        frame.setWidth(
            std::clamp(kReadoutWidth + int(width), kMinimumWidthWithLog, kMaximumWidthWithLog));
    } else {
        mOldLogViewWidth = mLogArea->viewport()->width();
        mLogArea->hide();
        frame.setLeft(frame.left() + int(mOldLogViewWidth));
        frame.setWidth(kReadoutWidth);
    }
    applyLogAreaLimits();
    frame.setHeight(kWindowHeight);
    window->setGeometry(frame);
}

void KOSplController::setLoggingZoom(double sliderValue) {
    if (mSPLHistoryView && sliderValue > 0.0)
        mSPLHistoryView->setSpeed(1.0 / sliderValue);
}

void KOSplController::historyViewDidChangeSpeed(float speed) {
    if (!(speed > 0.0f))
        return;
    mZoomSliderValue = 1.0 / double(speed);
    if (mLoggingViewZoomSlider) {
        const QSignalBlocker quiet(mLoggingViewZoomSlider);
        mLoggingViewZoomSlider->setValue(int(std::lround(mZoomSliderValue)));
    }
}

bool KOSplController::validateMenuItem(qint64 tag) const {
    if (tag == kExportTag)
        return mSPLHistoryView && mSPLHistoryView->hasSPLData() && mSPLInstrument;
    return true;
}

QMenu* KOSplController::instrumentMenu() {
    if (!mInstrumentMenu) {
        mInstrumentMenu = std::make_unique<QMenu>(name());
        QMenu& menu = *mInstrumentMenu;
        KOMenuAdditions::addItemWithTitle(
            menu, QStringLiteral("Start Log"), this, [this](QAction*) { toggleLogging(); },
            QKeySequence(Qt::CTRL | Qt::Key_L), kLoggingTag);
        KOMenuAdditions::addItemWithTitle(
            menu, QStringLiteral("Show Log Area"), this,
            [this](QAction*) { toggleVisibilityOfLoggingView(); },
            QKeySequence(Qt::CTRL | Qt::Key_K), kLogAreaTag);
        menu.addSeparator();
        auto weightingMenu = std::make_unique<QMenu>(QStringLiteral("Weighting"));
        for (std::uint32_t code : {kAWeighting, kBWeighting, kCWeighting})
            KOMenuAdditions::addItemWithTitle(
                *weightingMenu, KOString::stringWithWeightingType(code), this,
                [this](QAction* item) { setWeighting(item->data().toUInt()); }, qint64(code));
        KOMenuAdditions::addSubmenu(menu, std::move(weightingMenu), kWeightingSubmenuTag);
        auto averageMenu = std::make_unique<QMenu>(QStringLiteral("Average"));
        for (const TimeItem& item : kAverageTimes)
            KOMenuAdditions::addItemWithTitle(
                *averageMenu, timeTitle(item), this,
                [this](QAction* action) { setAvgTime(action->data().toDouble()); }, item.seconds);
        KOMenuAdditions::addSubmenu(menu, std::move(averageMenu), kAverageSubmenuTag);
        auto leqMenu = std::make_unique<QMenu>(QStringLiteral("LEQ Reset"));
        for (const TimeItem& item : kLeqTimes)
            KOMenuAdditions::addItemWithTitle(
                *leqMenu, timeTitle(item), this,
                [this](QAction* action) { setLeqTimerDuration(action->data().toDouble()); },
                item.seconds);
        KOMenuAdditions::addItemWithTitle(
            *leqMenu, QStringLiteral("inf"), this,
            [this](QAction*) { setLeqTimerDuration(kNoLeqPeriod); }, qint64(-1));
        KOMenuAdditions::addSubmenu(menu, std::move(leqMenu), kLeqSubmenuTag);
        menu.addSeparator();
        KOMenuAdditions::addItemWithTitle(
            menu, QStringLiteral("Slow"), this, [this](QAction*) { setInstrumentSpeed(kSlow); },
            qint64(kSlow));
        KOMenuAdditions::addItemWithTitle(
            menu, QStringLiteral("Fast"), this, [this](QAction*) { setInstrumentSpeed(kFast); },
            qint64(kFast));
        menu.addSeparator();
        KOMenuAdditions::addItemWithTitle(
            menu, QStringLiteral("Export Log Data..."), this,
            [this](QAction*) { exportSPLLogData(); }, kExportTag);
        KOMenuAdditions::addItemWithTitle(
            menu, QStringLiteral("New Big SPL Window"), this, [this](QAction*) { openBigWindow(); },
            fourCC("bigw"));
        KOMenuAdditions::addItemWithTitle(
            menu, QStringLiteral("Show SPL Logs"), this,
            [](QAction*) { KOSPLLoggingController::sharedSPLLogController().showWindow(); },
            fourCC("logs"));
        menu.addSeparator();
        connect(&menu, &QMenu::aboutToShow, this, [this, m = &menu] { updateInstrumentMenu(m); });
    }
    return KOInstrumentController::instrumentMenu();
}

void KOSplController::updateInstrumentMenu(QMenu* menu) {
    if (QAction* item = KOMenuAdditions::itemWithTag(*menu, kLoggingTag))
        item->setText(mIsLogging ? QStringLiteral("Stop Logging")
                                 : QStringLiteral("Start Logging"));
    if (QAction* item = KOMenuAdditions::itemWithTag(*menu, kLogAreaTag))
        item->setText(mLogViewVisible ? QStringLiteral("Hide Log Area")
                                      : QStringLiteral("Show Log Area"));
    if (QAction* item = KOMenuAdditions::itemWithTag(*menu, kWeightingSubmenuTag))
        KOMenuAdditions::checkItemWithTag(*item->menu(), weighting());
    if (QAction* item = KOMenuAdditions::itemWithTag(*menu, kAverageSubmenuTag))
        KOMenuAdditions::checkItemWithTag(*item->menu(), qint64(mAvgTimeSeconds));
    if (QAction* item = KOMenuAdditions::itemWithTag(*menu, kLeqSubmenuTag))
        KOMenuAdditions::checkItemWithTag(*item->menu(), qint64(mLEQ_Duration));
    for (QAction* item : menu->actions()) {
        const qint64 tag = item->data().toLongLong();
        if (tag == qint64(kSlow) || tag == qint64(kFast)) {
            item->setCheckable(true);
            item->setChecked(tag == qint64(instrumentSpeed()));
        }
        item->setEnabled(validateMenuItem(tag));
    }
    menuNeedsUpdate(menu);
}
