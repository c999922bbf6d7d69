#include "analysers/KOTransferSnapshot.h"

#include "analysers/KOFloatBufferCoding.h"
#include "engine/KOAudioDevice.h"
#include "engine/KOFloatBuffer.h"
#include "framework/KOColorAdditions.h"
#include "framework/KOFFTDrawingData.h"
#include "framework/KOInstrumentController.h"
#include "platform/log/Log.h"

#include <algorithm>
#include <cmath>
#include <mutex>

using koru::platform::KeyedArchiver;
using koru::platform::KeyedUnarchiver;

namespace {

std::atomic<int> gDifferencesMade{0};

double engineSampleRate() {
    const double rate = KOAudioDevice::sharedAudioDevice().nominalSampleRate();
    return std::isfinite(rate) && rate > 0.0 ? rate : 44100.0;
}

// Results of `length` holding what `measurement` shows now, magnitude in decibels.
std::unique_ptr<KOTransferResults> resultsOf(KOTransferMeasurementWrapper& measurement,
                                             std::uint32_t length) {
    auto results = std::make_unique<KOTransferResults>(measurement.FFTSize());
    measurement.copyTransferResult(*results);
    if (!results->HasBuffers())
        results = std::make_unique<KOTransferResults>(measurement.FFTSize());
    if (results->magnitude()->Length() != length)
        results->ResizeTo(length);
    results->MagnitudeToDecibels();
    return results;
}

} // namespace

// ---------------------------------------------------------------- KOTransferSnapshot

std::unique_ptr<KOTransferSnapshot>
KOTransferSnapshot::createWithRealtime(KORTTransferMeasWrapper& model) {
    auto snapshot = std::make_unique<KOTransferSnapshot>();
    snapshot->initWithRealtime(model);
    return snapshot;
}

KOTransferSnapshot::KOTransferSnapshot() {
    mRateObserver = koru::platform::observeNotification(
        QString::fromLatin1(KOInstrumentController::kReloadAudioPropNotification), nullptr,
        [this](const koru::platform::Notification&) { sampleRateChanged(engineSampleRate()); });
}

KOTransferSnapshot::~KOTransferSnapshot() = default;

void KOTransferSnapshot::initWithName(const QString& title, std::uint32_t fftSize) {
    KOTransferMeasurementWrapper::initWithName(title, fftSize);
    mSampleRate.store(engineSampleRate());
    setDrawingMode(0, kMagnitudeTrace);
    const std::lock_guard lock(modelLock());
    transferResults()->magnitude()->SetDecibel(true);
}

void KOTransferSnapshot::initWithRealtime(KORTTransferMeasWrapper& model) {
    initWithName(QString::fromLatin1(kTitleFormat).arg(model.title()), model.FFTSize());
    setResults(resultsOf(model, FFTSize()));
    mSourceDelay = model.sourceDelay();
    for (int trace = 0; trace < kTraceCount; ++trace)
        drawingDataForTrace(trace)->CopySettingsFrom(*model.drawingDataForTrace(trace));
    setColor(KOColorAdditions::nextColor(), kMagnitudeTrace);
}

void KOTransferSnapshot::setResults(std::unique_ptr<KOTransferResults> results) {
    const std::lock_guard lock(modelLock());
    replaceResultsLocked(std::move(results));
}

void KOTransferSnapshot::initWithCoder(KeyedUnarchiver& coder) {
    KOTransferMeasurementWrapper::initWithCoder(coder);
    const double rate = coder.decodeDouble(QString::fromLatin1(kSampleRateKey), 0.0);
    if (!(rate > 0.0) || !std::isfinite(rate)) {
        koru::log::warn("Transfer: the archived sample rate {} is unusable; using the engine's",
                        rate);
        mSampleRate.store(engineSampleRate());
    } else {
        mSampleRate.store(rate);
    }
    mSourceDelay = coder.decodeInt(QString::fromLatin1(kDelayKey), 0);
    auto results = KOFloatBufferCoding::decodeTransferResultsForKey(
        coder, QString::fromLatin1(kResultsKey), FFTSize());
    if (!results || !results->HasBuffers())
        results = std::make_unique<KOTransferResults>(FFTSize());
    // Stored magnitudes are decibels; a damaged one decoded as zeros reads 0 dB, not silence.
    results->magnitude()->SetDecibel(true);
    results->phase()->SetDecibel(true);
    results->coherence()->SetDecibel(true);
    setResults(std::move(results));
}

void KOTransferSnapshot::encodeWithCoder(KeyedArchiver& coder) const {
    KOTransferMeasurementWrapper::encodeWithCoder(coder);
    coder.encodeDouble(QString::fromLatin1(kSampleRateKey), mSampleRate.load());
    coder.encodeInt(QString::fromLatin1(kDelayKey), mSourceDelay);
    const std::lock_guard lock(const_cast<KOTransferSnapshot*>(this)->modelLock());
    KOFloatBufferCoding::encodeTransferResult(coder, *transferResults(),
                                              QString::fromLatin1(kResultsKey));
}

void KOTransferSnapshot::sampleRateChanged(double newRate) {
    // The engine reports its rate at single precision.
    const double rate = double(float(newRate));
    if (!(rate > 0.0) || !std::isfinite(rate))
        return;
    const std::lock_guard lock(modelLock());
    const double old = mSampleRate.load();
    if (old == rate)
        return;
    transferResults()->Stretch(old, rate);
    mSampleRate.store(rate);
}

// ---------------------------------------------------------------- KOTransferAccu

std::unique_ptr<KOTransferAccu> KOTransferAccu::createWithFFTSize(std::uint32_t size) {
    auto accu = std::make_unique<KOTransferAccu>();
    accu->initWithFFTSize(size);
    return accu;
}

void KOTransferAccu::initWithFFTSize(std::uint32_t size) {
    initWithName(QString::fromLatin1(kTitle), size);
    setColor(QColor::fromRgbF(0.0f, 1.0f, 0.0f, 1.0f), kMagnitudeTrace);
}

void KOTransferAccu::initWithCoder(KeyedUnarchiver& coder) {
    KOTransferSnapshot::initWithCoder(coder);
    const qint64 count = coder.decodeInt(QString::fromLatin1(kCountKey), 0);
    mCount.store(std::uint32_t(std::clamp<qint64>(count, 0, UINT32_MAX)));
}

void KOTransferAccu::encodeWithCoder(KeyedArchiver& coder) const {
    KOTransferSnapshot::encodeWithCoder(coder);
    coder.encodeInt(QString::fromLatin1(kCountKey), mCount.load());
}

void KOTransferAccu::pushToAccu(KOTransferMeasurementWrapper& measurement) {
    if (&measurement == this)
        return;
    const std::uint32_t incomingSize = measurement.FFTSize();
    if (incomingSize > FFTSize())
        setFFTSize(incomingSize);
    // Taken before our lock: the measurement's copy takes its own model lock.
    std::unique_ptr<KOTransferResults> incoming = resultsOf(measurement, FFTSize());
    const std::lock_guard lock(modelLock());
    KOTransferResults& own = *transferResults();
    const float k = float(mCount.load());
    KOFloatBuffer* targets[] = {own.magnitude(), own.phase(), own.coherence()};
    const KOFloatBuffer* sources[] = {incoming->magnitude(), incoming->phase(),
                                      incoming->coherence()};
    for (int i = 0; i < 3; ++i) {
        float* acc = targets[i]->Data();
        const float* add = sources[i]->Data();
        const std::uint32_t length = std::min(targets[i]->Length(), sources[i]->Length());
        for (std::uint32_t n = 0; n < length; ++n)
            acc[n] = (acc[n] * k + add[n]) / (k + 1.0f);
    }
    own.magnitude()->SetDecibel(true);
    mCount.fetch_add(1);
}

void KOTransferAccu::resetAspec() {
    const std::lock_guard lock(modelLock());
    KOTransferResults& own = *transferResults();
    own.magnitude()->Clear();
    own.phase()->Clear();
    own.coherence()->Clear();
    own.magnitude()->SetDecibel(true);
    mCount.store(0);
}

// ---------------------------------------------------------------- KOTransferAverage

std::unique_ptr<KOTransferAverage> KOTransferAverage::createWithMeasurements(
    const QString& title, std::uint32_t size,
    const QList<KOTransferMeasurementWrapper*>& measurements) {
    auto average = std::make_unique<KOTransferAverage>();
    average->initWithFFTSize(size);
    average->setTitle(title);
    for (KOTransferMeasurementWrapper* measurement : measurements)
        if (measurement != nullptr)
            average->pushToAccu(*measurement);
    return average;
}

// ---------------------------------------------------------------- KOTransferDifference

std::unique_ptr<KOTransferDifference>
KOTransferDifference::createWithMeasurements(KOTransferMeasurementWrapper& first,
                                             KOTransferMeasurementWrapper& second) {
    auto difference = std::make_unique<KOTransferDifference>();
    const int number = gDifferencesMade.fetch_add(1) + 1;
    // Two sizes are compared at the larger, so neither loses resolution and the lengths agree.
    const std::uint32_t size = std::max(first.FFTSize(), second.FFTSize());
    difference->initWithName(QString::fromLatin1(kTitleFormat).arg(number), size);
    std::unique_ptr<KOTransferResults> minuend = resultsOf(first, size);
    std::unique_ptr<KOTransferResults> subtrahend = resultsOf(second, size);
    minuend->difference(*subtrahend);
    difference->setResults(std::move(minuend));
    return difference;
}
