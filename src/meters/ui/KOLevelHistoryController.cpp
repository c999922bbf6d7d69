#include "meters/ui/KOLevelHistoryController.h"

#include "engine/KOAudioDevice.h"
#include "framework/ColourWell.h"
#include "framework/KOColorAdditions.h"
#include "framework/KOInstrumentControlView.h"
#include "framework/KOInstrumentWindow.h"
#include "framework/KOLevelHistoryView.h"
#include "meters/KOMeterMath.h"
#include "meters/ui/KOLevelDistributionView.h"

#include <QComboBox>
#include <QLabel>
#include <QMenu>
#include <QMetaObject>
#include <QSignalBlocker>
#include <QSlider>
#include <QSplitter>

#include <cmath>
#include <mutex>
#include <optional>

namespace {
const QString kIntegrationTimeKey = QStringLiteral("LevelHistory.IntegrationTime");
const QString kSpeedKey = QStringLiteral("LevelHistory.Speed");
const QString kInputChannelKey = QStringLiteral("LevelHistory.InputChannel");
const QString kDistributionTimeKey = QStringLiteral("LevelHistory.DistributionTime");
const QString kColorKey = QStringLiteral("LevelHistory.Color");
const QString kDividerPositionKey = QStringLiteral("LevelHistory.DividerPosition");

QString millisecondsText(double seconds) {
    return QString::asprintf("%.0f msec", seconds * 1000.0);
}

std::optional<double> numberFrom(const QVariantMap* d, const QString& key) {
    if (d == nullptr || !d->contains(key)) {
        return std::nullopt;
    }
    bool ok = false;
    const double value = d->value(key).toDouble(&ok);
    return ok && std::isfinite(value) ? std::optional<double>(value) : std::nullopt;
}
} // namespace

KOLevelHistoryController::KOLevelHistoryController()
    : mInstrument(std::make_unique<KOLevelIntegrator>()) {}

KOLevelHistoryController::~KOLevelHistoryController() {
    mInstrument.reset(); // leaves the engine first
}

std::unique_ptr<QMainWindow> KOLevelHistoryController::buildWindow(const QString&) {
    auto window = std::make_unique<KOInstrumentWindow>();
    mSplitter = new QSplitter(Qt::Horizontal, window.get());
    mHistory = new KOLevelHistoryView(mSplitter);
    mDistribution = new KOLevelDistributionView(mSplitter);
    mHistory->setDelegate(this);
    mSplitter->addWidget(mHistory);
    mSplitter->addWidget(mDistribution);
    mSplitter->setSizes({400, 150});
    window->setCentralWidget(mSplitter);
    window->resize(550, 250);
    window->setMinimumSize(180, 140);
    window->setMaximumSize(750, 350);
    // The time marker shows only while the distribution view is open.
    connect(mSplitter, &QSplitter::splitterMoved, this,
            [this] { mHistory->setShowDistributionTimeMarker(mDistribution->width() > 0); });

    KOInstrumentControlView* panel = mHistory->controlView();
    setMInputMenu(panel->addPopUpButtonWithFrame(QRectF(5.0, 5.0, 140.0, 25.0), QMenu()));
    mIntegrationSlider = panel->addSliderWithFrame(
        QRectF(5.0, 33.0, 90.0, 20.0), this,
        [this](QWidget*) { setIntegrationTime(mIntegrationSlider->value() / 1000.0); },
        QStringLiteral("Integration Time:"));
    mIntegrationSlider->setRange(30, int(kMaxSliderSeconds * 1000.0)); // 30 ms .. 1 s
    mSpeedSlider = panel->addSliderWithFrame(
        QRectF(5.0, 60.0, 60.0, 20.0), this,
        [this](QWidget*) { setSpeed(mSpeedSlider->value() / 100.0); }, QStringLiteral("Speed"));
    mSpeedSlider->setRange(int(KOLevelHistoryView::kMinimumSpeed * 100.0 + 0.5),
                           int(KOLevelHistoryView::kMaximumSpeed * 100.0));
    mColorWell = panel->addColorWellWithFrame(QRectF(100.0, 60.0, 30.0, 20.0), this,
                                              [this](QWidget*) { setColor(mColorWell->color()); });
    mIntTimeReadout =
        panel->addLabelAtRect(QRectF(65.0, 30.0, 80.0, 20.0), QStringLiteral("300 msec"));
    mIntTimeReadout->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    panel->setSize(QSizeF(150.0, 100.0));
    return window;
}

void KOLevelHistoryController::initWithWindowNibName(const QString& nibName,
                                                     const QVariantMap* dictionary) {
    KOInstrumentController::initWithWindowNibName(nibName, dictionary);
    // A new window is titled with its kind until the user names it.
    if (name().isEmpty())
        setName(QStringLiteral("Level History"));
    if (dictionary == nullptr) {
        setColor(KOColorAdditions::noBlueColor());
        setSpeed(1.0);
    } else {
        setColor(KOColorAdditions::colorFromDictionary(dictionary->value(kColorKey).toMap()));
        setSpeed(numberFrom(dictionary, kSpeedKey).value_or(0.0));
        if (const auto position = numberFrom(dictionary, kDividerPositionKey)) {
            setDividerPosition(*position);
        }
    }
    setInputChannel(qint64(numberFrom(dictionary, kInputChannelKey).value_or(0.0)));
    setDistributionTime(numberFrom(dictionary, kDistributionTimeKey).value_or(3.0));
    KOAudioDevice::sharedAudioDevice().addInputClient(mInstrument.get());
    // The host resets the window to 0.25 s; the saved time applies after it.
    if (const auto seconds = numberFrom(dictionary, kIntegrationTimeKey)) {
        setIntegrationTime(*seconds);
    }
    addToDataCollectorThread(); // ends with audioPropertiesChanged: slider and read-out follow
}

QVariantMap KOLevelHistoryController::dictionaryRepresentation() const {
    QVariantMap d = KOInstrumentController::dictionaryRepresentation();
    d.insert(kIntegrationTimeKey, integrationTime());
    d.insert(kSpeedKey, mHistory ? mHistory->speed() : 0.0);
    d.insert(kInputChannelKey, inputChannel());
    d.insert(kColorKey, KOColorAdditions::dictionaryRepresentation(color()));
    d.insert(kDistributionTimeKey, distributionTime());
    d.insert(kDividerPositionKey, dividerPosition());
    return d;
}

QMenu* KOLevelHistoryController::instrumentMenu() {
    if (!mInstrumentMenu) {
        mInstrumentMenu = std::make_unique<QMenu>(name());
    }
    return KOInstrumentController::instrumentMenu();
}

void KOLevelHistoryController::audioPropertiesChanged() {
    const double seconds = integrationTime();
    if (mIntegrationSlider) {
        const QSignalBlocker blocker(mIntegrationSlider);
        mIntegrationSlider->setValue(int(std::lround(seconds * 1000.0)));
    }
    if (mIntTimeReadout) {
        mIntTimeReadout->setText(millisecondsText(seconds));
    }
    setDistributionTime(distributionTime());
    KOInstrumentController::audioPropertiesChanged();
}

QColor KOLevelHistoryController::color() const {
    return mHistory ? mHistory->color() : QColor();
}

void KOLevelHistoryController::setColor(const QColor& colour) {
    if (!colour.isValid()) {
        return;
    }
    for (KOLevelHistoryAndDistributionView* view :
         {static_cast<KOLevelHistoryAndDistributionView*>(mHistory),
          static_cast<KOLevelHistoryAndDistributionView*>(mDistribution)}) {
        if (view != nullptr) {
            view->setColor(colour);
        }
    }
    if (mColorWell) {
        const QSignalBlocker blocker(mColorWell);
        mColorWell->setColor(colour);
    }
}

double KOLevelHistoryController::speed() const {
    return mHistory ? mHistory->speed() : 0.0;
}

void KOLevelHistoryController::setSpeed(double speed) {
    if (!mHistory) {
        return;
    }
    mHistory->setSpeed(speed);
    if (mSpeedSlider) {
        const QSignalBlocker blocker(mSpeedSlider);
        mSpeedSlider->setValue(int(std::lround(mHistory->speed() * 100.0)));
    }
}

double KOLevelHistoryController::dividerPosition() const {
    if (!mSplitter || mSplitter->sizes().isEmpty()) {
        return 0.0;
    }
    return double(mSplitter->sizes().front());
}

void KOLevelHistoryController::setDividerPosition(double position) {
    if (!mSplitter || !std::isfinite(position) || position < 0.0) {
        return;
    }
    const QList<int> sizes = mSplitter->sizes();
    int total = 0;
    for (int size : sizes) {
        total += size;
    }
    const int history = int(std::min(position, 1.0e6));
    mSplitter->setSizes({history, std::max(0, total - history)});
    if (mHistory && mDistribution) {
        mHistory->setShowDistributionTimeMarker(mSplitter->sizes().value(1) > 0);
    }
}

double KOLevelHistoryController::integrationTime() const {
    return double(mInstrument->WindowFrames()) / mInstrument->HostSampleRate();
}

void KOLevelHistoryController::setIntegrationTime(double seconds) {
    mInstrument->SetWindowSeconds(seconds);
    if (mIntTimeReadout) {
        mIntTimeReadout->setText(millisecondsText(integrationTime()));
    }
}

void KOLevelHistoryController::setDistributionTime(double seconds) {
    if (!std::isfinite(seconds) || seconds < 0.0) {
        seconds = 3.0;
    }
    mDistributionTime.store(seconds);
    // Whole collections: one value per buffer.
    const double frames = std::trunc(double(float(seconds)) * mInstrument->HostSampleRate());
    const auto bound = std::uint32_t(std::min(frames, 4.0e9)) / mInstrument->HostBufferFrames();
    setDistributionBound(bound);
}

void KOLevelHistoryController::setDistributionBound(std::uint32_t bound) {
    if (mDistribution) {
        mDistribution->setDistributionBound(bound);
    }
}

qint64 KOLevelHistoryController::inputChannel() const {
    return mInstrument->Channel();
}

void KOLevelHistoryController::setInputChannel(qint64 channel) {
    mInstrument->SetChannel(std::uint32_t(std::max<qint64>(channel, 0)));
}

void KOLevelHistoryController::resetAll() {
    const std::lock_guard lock(dataCollectionLock());
    mRMS = Ring{};
    mPeak = Ring{};
}

void KOLevelHistoryController::dataCollection() {
    KOLevelIntegrator::Levels levels;
    if (!mInstrument->Collect(levels)) {
        return;
    }
    mRMS.Push(koru::meters::historyFraction(levels.rms));
    mPeak.Push(koru::meters::historyFraction(levels.peak));
    for (KOLevelHistoryAndDistributionView* view :
         {static_cast<KOLevelHistoryAndDistributionView*>(mHistory),
          static_cast<KOLevelHistoryAndDistributionView*>(mDistribution)}) {
        if (view == nullptr) {
            continue;
        }
        view->createRMSPathWithRingBuffer(mRMS);
        view->createPeakPathWithRingBuffer(mPeak);
        QMetaObject::invokeMethod(view, qOverload<>(&QWidget::update), Qt::QueuedConnection);
    }
}
