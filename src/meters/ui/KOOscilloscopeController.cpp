#include "meters/ui/KOOscilloscopeController.h"

#include "engine/KOAudioDevice.h"
#include "framework/KOInstrumentWindow.h"
#include "meters/ui/KOMeterViews.h"

#include <QEvent>

#include <cmath>

namespace {
const QString kUnitKey = QStringLiteral("Oscilloscope.TimePerDiv.Unit");
const QString kDrawAKey = QStringLiteral("Oscilloscope.Draw.ChA");
const QString kDrawBKey = QStringLiteral("Oscilloscope.Draw.ChB");
const QString kTimePerDivKey = QStringLiteral("Oscilloscope.TimePerDiv.Samples");
const QString kChannelAKey = QStringLiteral("Oscilloscope.ChannelA");
const QString kChannelBKey = QStringLiteral("Oscilloscope.ChannelB");
const QString kTriggerLevelKey = QStringLiteral("Oscilloscope.TriggerLevel");
const QString kTriggerSourceKey = QStringLiteral("Oscilloscope.TriggerSource");

qint64 unsignedFrom(const QVariantMap* d, const QString& key, qint64 fallback) {
    if (d == nullptr) {
        return fallback;
    }
    bool ok = false;
    const qint64 value = d->value(key).toLongLong(&ok);
    return ok && value >= 0 ? value : fallback;
}

bool boolFrom(const QVariantMap* d, const QString& key, bool fallback) {
    return d != nullptr && d->contains(key) ? d->value(key).toBool() : fallback;
}

float floatFrom(const QVariantMap* d, const QString& key, float fallback) {
    if (d == nullptr) {
        return fallback;
    }
    bool ok = false;
    const double value = d->value(key).toDouble(&ok);
    return ok && std::isfinite(value) ? float(value) : fallback;
}
} // namespace

KOOscilloscopeController::KOOscilloscopeController()
    : mInstrument(std::make_unique<KOOscilloscopeInstrument>()) {}

KOOscilloscopeController::~KOOscilloscopeController() {
    mInstrument.reset(); // leaves the engine first
}

std::unique_ptr<QMainWindow> KOOscilloscopeController::buildWindow(const QString&) {
    auto window = std::make_unique<KOInstrumentWindow>();
    mView = new KOOscilloscopeView(window.get());
    window->setCentralWidget(mView);
    window->resize(500, 300);
    return window;
}

void KOOscilloscopeController::initWithWindowNibName(const QString& nibName,
                                                     const QVariantMap* dictionary) {
    KOInstrumentController::initWithWindowNibName(nibName, dictionary);
    // A new window is titled with its kind until the user names it.
    if (name().isEmpty())
        setName(QStringLiteral("Oscilloscope"));
    mUnit.store(std::uint32_t(unsignedFrom(dictionary, kUnitKey, 2)));
    mDrawA.store(boolFrom(dictionary, kDrawAKey, true));
    mDrawB.store(boolFrom(dictionary, kDrawBKey, true));
    setTimePerDiv(std::uint32_t(std::min<qint64>(
        unsignedFrom(dictionary, kTimePerDivKey, kDefaultTimePerDiv), UINT32_MAX)));
    if (mView) {
        mInstrument->SetInitialCaptureLength(captureLength(timePerDiv(), mView->pointWidth()));
    }
    KOAudioDevice::sharedAudioDevice().addInputClient(mInstrument.get());
    setInChannelA(unsignedFrom(dictionary, kChannelAKey, 0));
    setInChannelB(unsignedFrom(dictionary, kChannelBKey, 1));
    setTriggerLevel(floatFrom(dictionary, kTriggerLevelKey, 0.0f));
    setTriggerSource(std::uint32_t(unsignedFrom(dictionary, kTriggerSourceKey, 0)));
    addToDataCollectorThread();
}

QVariantMap KOOscilloscopeController::dictionaryRepresentation() const {
    QVariantMap d = KOInstrumentController::dictionaryRepresentation();
    d.insert(kUnitKey, qint64(mUnit.load()));
    d.insert(kDrawAKey, mDrawA.load());
    d.insert(kDrawBKey, mDrawB.load());
    d.insert(kTimePerDivKey, qint64(timePerDiv()));
    d.insert(kChannelAKey, inChannelA());
    d.insert(kChannelBKey, inChannelB());
    d.insert(kTriggerLevelKey, double(triggerLevel()));
    d.insert(kTriggerSourceKey, qint64(triggerSource()));
    return d;
}

std::uint32_t KOOscilloscopeController::captureLength(std::uint32_t timePerDiv, double width) {
    const double divisions = width / KOOscilloscopeView::kDivision;
    return KOOscilloscopeInstrument::ClampLength(
        std::uint32_t(std::min(double(timePerDiv) * divisions / 1000.0, 4294967295.0)));
}

void KOOscilloscopeController::setTimePerDiv(std::uint32_t value) {
    // Applied with the next snapshot.
    mTimePerDiv.store(std::max<std::uint32_t>(value, 1));
}

void KOOscilloscopeController::setTriggerLevel(float level) {
    mInstrument->SetTriggerLevel(std::isfinite(level) ? level : 0.0f);
}

void KOOscilloscopeController::dataCollection() {
    if (!mView) {
        return;
    }
    const double width = mView->pointWidth();
    if (width < 1.0 || (!mInstrument->IsComplete() && !mInstrument->IsPaused())) {
        return;
    }
    const auto points = std::uint32_t(width);
    std::vector<float> a(mDrawA.load() ? points : 0);
    std::vector<float> b(mDrawB.load() ? points : 0);
    mInstrument->TakeSnapshot(a.empty() ? nullptr : a.data(), b.empty() ? nullptr : b.data(),
                              points, captureLength(timePerDiv(), width));
    mView->setTraces(std::move(a), std::move(b));
}

qint64 KOOscilloscopeController::inChannelA() const {
    return mInstrument->ChannelA();
}

void KOOscilloscopeController::setInChannelA(qint64 channel) {
    mInstrument->SetChannelA(std::uint32_t(std::max<qint64>(channel, 0)));
}

qint64 KOOscilloscopeController::inChannelB() const {
    return mInstrument->ChannelB();
}

void KOOscilloscopeController::setInChannelB(qint64 channel) {
    mInstrument->SetChannelB(std::uint32_t(std::max<qint64>(channel, 0)));
}
