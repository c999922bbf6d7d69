#include "meters/ui/KODeviceInPPMController.h"

#include "engine/KOAudioDevice.h"
#include "framework/KOInstrumentWindow.h"
#include "meters/ui/KOMeterViews.h"

#include <algorithm>

KODeviceInPPMController::KODeviceInPPMController() {
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
    mTimer.start();
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
        meters.reserve(count);
        for (std::uint32_t channel = 0; channel < count; ++channel) {
            const KOAD::Levels levels = engine->GetLevels(channel);
            meters.push_back({levels.rms, levels.peak, mLatches.update(channel, levels.peak)});
        }
    }
    if (mView) {
        mView->setMeters(std::move(meters));
    }
}
