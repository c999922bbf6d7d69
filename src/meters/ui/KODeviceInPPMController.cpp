#include "meters/ui/KODeviceInPPMController.h"

#include "engine/KOAudioDevice.h"
#include "framework/KOInstrumentWindow.h"
#include "meters/ui/KOMeterViews.h"

#include <algorithm>

namespace {
const QString kShowChannelKey = QStringLiteral("Meter.ShowChannel");
const QString kShowLabelsKey = QStringLiteral("Meter.ShowLabels");
} // namespace

KODeviceInPPMController::KODeviceInPPMController() {
    mVisible.fill(true);
    mTimer.setInterval(kRefreshMilliseconds);
    connect(&mTimer, &QTimer::timeout, this,
            [this] { refreshMeters(KOAudioDevice::sharedAudioDevice().getKOAD()); });
}

KODeviceInPPMController::~KODeviceInPPMController() {
    mTimer.stop();
}

std::unique_ptr<QMainWindow> KODeviceInPPMController::buildWindow(const QString&) {
    auto window = std::make_unique<KOInstrumentWindow>();
    mView = new KODeviceInPPMView(window.get());
    window->setCentralWidget(mView);
    window->resize(160, 300);
    return window;
}

void KODeviceInPPMController::initWithWindowNibName(const QString& nibName,
                                                    const QVariantMap* dictionary) {
    KOInstrumentController::initWithWindowNibName(nibName, dictionary);
    // A new window is titled with its kind until the user names it.
    if (name().isEmpty())
        setName(QStringLiteral("Input PPM"));
    if (dictionary != nullptr) {
        mShowLabels = dictionary->value(kShowLabelsKey).toBool();
        // Entry by entry: a shorter array changes only the channels it names.
        const QVariantList shown = dictionary->value(kShowChannelKey).toList();
        const auto count = std::min<qsizetype>(shown.size(), qsizetype(mVisible.size()));
        for (qsizetype k = 0; k < count; ++k) {
            if (shown[k].canConvert<bool>()) {
                mVisible[std::size_t(k)] = shown[k].toBool();
            }
        }
        if (std::none_of(mVisible.begin(), mVisible.end(), [](bool v) { return v; })) {
            mVisible[0] = true; // never a window of no meter
        }
    }
    mTimer.start();
}

QVariantMap KODeviceInPPMController::dictionaryRepresentation() const {
    QVariantMap d = KOInstrumentController::dictionaryRepresentation();
    QVariantList shown;
    for (bool visible : mVisible) {
        shown.append(visible);
    }
    d.insert(kShowChannelKey, shown);
    d.insert(kShowLabelsKey, mShowLabels);
    return d;
}

bool KODeviceInPPMController::showsChannel(std::uint32_t channel) const {
    return channel < mVisible.size() && mVisible[channel];
}

void KODeviceInPPMController::setShowsChannel(std::uint32_t channel, bool show) {
    if (channel >= mVisible.size()) {
        return;
    }
    // Among the engine's channels, the last visible meter stays.
    const std::uint32_t count = std::max<std::uint32_t>(mChannelCount, 1);
    if (!show && channel < count &&
        std::count(mVisible.begin(), mVisible.begin() + count, true) == 1 && mVisible[channel]) {
        return;
    }
    mVisible[channel] = show;
}

void KODeviceInPPMController::resetAll() {
    mLatches.reset();
    // The boxes go dark now; a signal still at full scale lights them at the next refresh.
    if (mView) {
        auto meters = mView->meters();
        for (auto& meter : meters) {
            meter.clipped = false;
        }
        mView->setMeters(std::move(meters));
    }
}

void KODeviceInPPMController::refreshMeters(const KOAD* engine) {
    std::vector<KODeviceInPPMView::Meter> meters;
    if (engine != nullptr) {
        const std::uint32_t count = std::min(engine->TotalNumberOfChannels(), KOAD::kMaxChannels);
        mChannelCount = count;
        meters.reserve(count);
        for (std::uint32_t channel = 0; channel < count; ++channel) {
            const KOAD::Levels levels = engine->GetLevels(channel);
            // Hidden meters still latch, so showing one reveals a clip it missed.
            const bool clipped = mLatches.update(channel, levels.peak);
            if (mVisible[channel]) {
                meters.push_back({levels.rms, levels.peak, clipped});
            }
        }
    }
    if (mView) {
        mView->setMeters(std::move(meters));
    }
}
