#include "meters/ui/KOLevelHistoryController.h"

#include "engine/KOAudioDevice.h"
#include "framework/KOInstrumentWindow.h"
#include "framework/KOLevelHistoryView.h"
#include "meters/KOMeterMath.h"
#include "meters/ui/KOLevelDistributionView.h"

#include <QMetaObject>
#include <QSplitter>

#include <cmath>
#include <mutex>
#include <optional>

namespace {
const QString kIntegrationTimeKey = QStringLiteral("LevelHistory.IntegrationTime");
const QString kSpeedKey = QStringLiteral("LevelHistory.Speed");
const QString kInputChannelKey = QStringLiteral("LevelHistory.InputChannel");
const QString kDistributionTimeKey = QStringLiteral("LevelHistory.DistributionTime");

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
    auto* splitter = new QSplitter(Qt::Horizontal, window.get());
    mHistory = new KOLevelHistoryView(splitter);
    mDistribution = new KOLevelDistributionView(splitter);
    mHistory->setDelegate(this);
    splitter->addWidget(mHistory);
    splitter->addWidget(mDistribution);
    splitter->setSizes({400, 150});
    window->setCentralWidget(splitter);
    window->resize(550, 250);
    return window;
}

void KOLevelHistoryController::initWithWindowNibName(const QString& nibName,
                                                     const QVariantMap* dictionary) {
    KOInstrumentController::initWithWindowNibName(nibName, dictionary);
    // A new window is titled with its kind until the user names it.
    if (name().isEmpty())
        setName(QStringLiteral("Level History"));
    KOAudioDevice::sharedAudioDevice().addInputClient(mInstrument.get());
    // The host resets the window to 0.25 s; the saved time applies after it.
    if (const auto seconds = numberFrom(dictionary, kIntegrationTimeKey)) {
        setIntegrationTime(*seconds);
    }
    if (mHistory) {
        mHistory->setSpeed(numberFrom(dictionary, kSpeedKey).value_or(0.0));
    }
    setInputChannel(qint64(numberFrom(dictionary, kInputChannelKey).value_or(0.0)));
    setDistributionTime(numberFrom(dictionary, kDistributionTimeKey).value_or(3.0));
    addToDataCollectorThread();
}

QVariantMap KOLevelHistoryController::dictionaryRepresentation() const {
    QVariantMap d = KOInstrumentController::dictionaryRepresentation();
    d.insert(kIntegrationTimeKey, integrationTime());
    d.insert(kSpeedKey, mHistory ? mHistory->speed() : 0.0);
    d.insert(kInputChannelKey, inputChannel());
    d.insert(kDistributionTimeKey, distributionTime());
    return d;
}

double KOLevelHistoryController::integrationTime() const {
    return double(mInstrument->WindowFrames()) / mInstrument->HostSampleRate();
}

void KOLevelHistoryController::setIntegrationTime(double seconds) {
    mInstrument->SetWindowSeconds(seconds);
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
