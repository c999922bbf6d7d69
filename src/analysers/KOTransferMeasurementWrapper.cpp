#include "analysers/KOTransferMeasurementWrapper.h"

#include "analysers/KODelayFinderData.h"
#include "analysers/KODelayFinderRun.h"
#include "analysers/KOTransferSnapshot.h"
#include "app/NumberValueFormatter.h"
#include "engine/KOAudioDevice.h"
#include "engine/KOFloatBuffer.h"
#include "engine/KOTransferAnalyzer.h"
#include "framework/KOColorAdditions.h"
#include "framework/KOFFTDrawingData.h"
#include "framework/KOInstrumentController.h"
#include "platform/exceptions/InternalInconsistencyException.h"
#include "platform/formatter/KOStandardNumberFormatters.h"
#include "platform/fourcc/FourCC.h"
#include "platform/log/Log.h"
#include "utility/KODistanceFormatter.h"

#include <QTimer>
#include <QVariant>

#include <algorithm>
#include <bit>
#include <cmath>
#include <mutex>
#include <thread>

using koru::platform::KeyedArchiver;
using koru::platform::KeyedUnarchiver;

namespace {

const bool registeredAtStart = (KOTransferMeasurementWrapper::registerArchiveClasses(), true);

std::atomic<int> gRealtimeMade{0};
std::atomic<bool> gDelayFinderStartsItself{true};
std::function<void(const QString&)>& delayFinderNotifier() {
    static std::function<void(const QString&)> notifier;
    return notifier;
}

constexpr qint64 kMaximumChannels = 256;
constexpr const char* kDistanceUnitNotification = "KORUNot.changeDistanceUnit";

// The plot holds a trace lock only while it draws that trace.
void lockTrace(KOFFTDrawingData& data) {
    while (!data.TryLock())
        std::this_thread::yield();
}

} // namespace

// ---------------------------------------------------------------- KOTransferMeasurementWrapper

bool KOTransferMeasurementWrapper::isValidFFTSize(std::uint32_t size) {
    return std::has_single_bit(size) && size >= kMinimumFFTSize && size <= kMaximumFFTSize;
}

void KOTransferMeasurementWrapper::registerArchiveClasses() {
    static std::once_flag once;
    std::call_once(once, [] {
        registerArchiveClass<KORTTransferMeasWrapper>(
            QString::fromLatin1(KORTTransferMeasWrapper::kClassName));
        registerArchiveClass<KOTransferSnapshot>(
            QString::fromLatin1(KOTransferSnapshot::kClassName));
        registerArchiveClass<KOTransferAccu>(QString::fromLatin1(KOTransferAccu::kClassName));
        registerArchiveClass<KOTransferAverage>(QString::fromLatin1(KOTransferAverage::kClassName));
        registerArchiveClass<KOTransferDifference>(
            QString::fromLatin1(KOTransferDifference::kClassName));
    });
}

KOTransferMeasurementWrapper::KOTransferMeasurementWrapper() {
    (void)registeredAtStart;
    mDistanceUnitObserver = koru::platform::observeNotification(
        QString::fromLatin1(kDistanceUnitNotification), nullptr,
        [this](const koru::platform::Notification&) { emit delayChanged(); });
}

KOTransferMeasurementWrapper::~KOTransferMeasurementWrapper() = default;

void KOTransferMeasurementWrapper::initWithName(const QString& title, std::uint32_t fftSize) {
    KOFFTInstrumentWrapperBase::initWithName(title, fftSize);
    setOffset(0.0);
    setDrawingMode(0, kPhaseTrace);
    setDrawingMode(0, kCoherenceTrace);
    setDraws(false, kPhaseTrace);
    setDraws(false, kCoherenceTrace);
}

void KOTransferMeasurementWrapper::initWithCoder(KeyedUnarchiver& coder) {
    KOFFTInstrumentWrapperBase::initWithCoder(coder);
    const qint64 stored = coder.decodeInt(QString::fromLatin1(kDelayOffsetKey), 0);
    // Stored as a 32-bit value.
    setDelayOffset(qint64(std::int32_t(stored)));
    // The traces' offset comes from their dictionaries; keep it within its limits.
    setOffset(offset());
}

void KOTransferMeasurementWrapper::encodeWithCoder(KeyedArchiver& coder) const {
    KOFFTInstrumentWrapperBase::encodeWithCoder(coder);
    coder.encodeInt(QString::fromLatin1(kDelayOffsetKey), delayOffset());
}

void KOTransferMeasurementWrapper::setFFTSize(std::uint32_t requested) {
    std::uint32_t size = requested;
    if (!isValidFFTSize(size)) {
        const std::uint32_t current = FFTSize();
        size = isValidFFTSize(current) ? current : kWindowFFTSize;
        koru::log::warn("Transfer: an FFT size of {} is not one of the analyser's (powers of two "
                        "from {} to {}); keeping {}",
                        requested, kMinimumFFTSize, kMaximumFFTSize, size);
    }
    {
        const std::lock_guard lock(modelLock());
        std::unique_ptr<KOTransferResults> results;
        if (mResults && mResults->HasBuffers()) {
            results = std::make_unique<KOTransferResults>(*mResults);
            if (results->magnitude()->Length() != size)
                results->ResizeTo(size);
        } else {
            results = std::make_unique<KOTransferResults>(size);
        }
        storeFFTSize(size);
        replaceResultsLocked(std::move(results));
    }
    notifyFFTSizeChanged();
}

void KOTransferMeasurementWrapper::replaceResultsLocked(
    std::unique_ptr<KOTransferResults> results) {
    std::swap(mResults, results);
    KOFloatBuffer* buffers[] = {mResults->magnitude(), mResults->phase(), mResults->coherence()};
    for (int trace = 0; trace < kTraceCount; ++trace) {
        KOFFTDrawingData& data = *drawingDataForTrace(trace);
        lockTrace(data);
        data.SetBuffer(buffers[trace]);
        data.Unlock();
    }
    // The old results go when `results` leaves scope: no trace points at them any more.
}

double KOTransferMeasurementWrapper::offset() const {
    return magDrawingData()->offset();
}

void KOTransferMeasurementWrapper::setOffset(double value) {
    const double clamped = std::isnan(value) ? 0.0 : std::clamp(value, -kOffsetLimit, kOffsetLimit);
    const std::lock_guard lock(modelLock());
    magDrawingData()->setOffset(clamped);
}

bool KOTransferMeasurementWrapper::inverts() const {
    return magDrawingData()->invert();
}

void KOTransferMeasurementWrapper::setInverts(bool inverts) {
    const std::lock_guard lock(modelLock());
    magDrawingData()->setInvert(inverts);
}

bool KOTransferMeasurementWrapper::drawMagDetails() const {
    return magDrawingData()->showDetails();
}

void KOTransferMeasurementWrapper::setDrawMagDetails(bool draws) {
    magDrawingData()->setShowDetails(draws);
}

void KOTransferMeasurementWrapper::copyTransferResult(KOTransferResults& destination) {
    const std::lock_guard lock(modelLock());
    if (mResults)
        destination = *mResults;
}

void KOTransferMeasurementWrapper::setDelayOffset(qint64 offset) {
    mDelayOffset.store(offset);
    emit delayChanged();
}

QString KOTransferMeasurementWrapper::delayOffsetString() {
    return KODistanceFormatter::sharedDistanceFormatter()
        .stringForObjectValue(QVariant::fromValue(delayOffset()))
        .value_or(QString());
}

void KOTransferMeasurementWrapper::setDelayOffsetString(const QString& text) {
    QVariant value;
    if (KODistanceFormatter::sharedDistanceFormatter().getObjectValue(&value, text) &&
        value.isValid())
        setDelayOffset(value.toLongLong());
}

QString KOTransferMeasurementWrapper::sourceDelayString() {
    return KODistanceFormatter::sharedDistanceFormatter()
        .stringForObjectValue(QVariant::fromValue(sourceDelay()))
        .value_or(QString());
}

void KOTransferMeasurementWrapper::setSourceDelayString(const QString& text) {
    QVariant value;
    if (KODistanceFormatter::sharedDistanceFormatter().getObjectValue(&value, text) &&
        value.isValid())
        setSourceDelay(value.toLongLong());
}

QStringList KOTransferMeasurementWrapper::headers() const {
    return {QString::fromLatin1(kFrequencyHeader), QString::fromLatin1(kMagnitudeHeader),
            QString::fromLatin1(kPhaseHeader), QString::fromLatin1(kCoherenceHeader)};
}

bool KOTransferMeasurementWrapper::prepareDataForExporting(KODataExporter&) {
    const double rate = delegateSampleRate();
    std::array<std::unique_ptr<KOFloatBuffer>, kTraceCount> copies;
    {
        const std::lock_guard lock(modelLock());
        if (!mResults || !mResults->HasBuffers())
            return false;
        copies = {std::make_unique<KOFloatBuffer>(*mResults->magnitude()),
                  std::make_unique<KOFloatBuffer>(*mResults->phase()),
                  std::make_unique<KOFloatBuffer>(*mResults->coherence())};
    }
    for (auto& copy : copies)
        koru::platform::InternalInconsistencyException::check(copy->Length() == copies[0]->Length(),
                                                              kExportLengthMismatch);
    copies[0]->ToDecibels(0, 1.0f);
    for (auto& copy : copies)
        replaceNonFiniteByFloor(*copy);
    setExportData(std::move(copies), rate);
    return true;
}

std::shared_ptr<koru::ValueFormatter>
KOTransferMeasurementWrapper::formatterForHeader(const QString&) {
    koru::platform::NumberFormatter formatter = KOStandardNumberFormatters::standardFormatter();
    formatter.setAllowsFloats(true);
    formatter.setMinimumFractionDigits(2);
    formatter.setMaximumFractionDigits(2);
    formatter.setMinimumIntegerDigits(1);
    return std::make_shared<koru::NumberValueFormatter>(formatter);
}

std::optional<QString> KOTransferMeasurementWrapper::unitForHeader(const QString& key) const {
    if (key == QLatin1String(kFrequencyHeader))
        return QString::fromLatin1(kFrequencyUnit);
    if (key == QLatin1String(kMagnitudeHeader))
        return QString::fromLatin1(kLevelUnit);
    if (key == QLatin1String(kPhaseHeader))
        return QString::fromLatin1(kPhaseUnit);
    return std::nullopt;
}

// ---------------------------------------------------------------- KORTTransferMeasWrapper

std::unique_ptr<KORTTransferMeasWrapper>
KORTTransferMeasWrapper::createWithFFTSize(std::uint32_t size) {
    auto wrapper = std::make_unique<KORTTransferMeasWrapper>();
    wrapper->initWithFFTSize(size);
    return wrapper;
}

void KORTTransferMeasWrapper::setDelayFinderStartsItself(bool starts) {
    gDelayFinderStartsItself.store(starts);
}

bool KORTTransferMeasWrapper::delayFinderStartsItself() {
    return gDelayFinderStartsItself.load();
}

void KORTTransferMeasWrapper::setDelayFinderNotifier(std::function<void(const QString&)> notifier) {
    delayFinderNotifier() = std::move(notifier);
}

KORTTransferMeasWrapper::KORTTransferMeasWrapper()
    : mDelayFinderStartTimer(std::make_unique<QTimer>()),
      mDelayFinderResults(std::make_unique<KODelayFinderResults>()) {
    mAudioPropertiesObserver = koru::platform::observeNotification(
        QString::fromLatin1(KOInstrumentController::kReloadAudioPropNotification), nullptr,
        [this](const koru::platform::Notification&) { resetAspec(); });
    mDelayFinderStartTimer->setSingleShot(true);
    mDelayFinderStartTimer->setInterval(kDelayFinderStartDelay);
    QObject::connect(mDelayFinderStartTimer.get(), &QTimer::timeout, this,
                     [this] { invokeDelayFinderFromTimer(); });
    // The delay-finder window follows every change of the delay or the offset.
    QObject::connect(this, &KOTransferMeasurementWrapper::delayChanged, mDelayFinderResults.get(),
                     &KODelayFinderResults::announceDelayChange);
    mDelayFinderRun = std::make_unique<KODelayFinderRun>(
        this,
        [this](const std::shared_ptr<KODelayFinderData>& data) { return delayComputation(data); },
        KODelayFinderRun::Registrar{}, delayFinderNotifier());
}

KORTTransferMeasWrapper::~KORTTransferMeasWrapper() {
    mAudioPropertiesObserver = {};
    mDelayFinderStartTimer->stop();
    mDelayCalcCompletion = {};
    // Each of the two leaves the engine in its destructor, the finder first.
    const std::lock_guard lock(modelLock());
    mDelayFinderRun.reset();
    mAnalyzer.reset();
}

void KORTTransferMeasWrapper::initWithFFTSize(std::uint32_t size) {
    const int number = gRealtimeMade.fetch_add(1) + 1;
    initWithName(QString::fromLatin1(kTitleFormat).arg(number), size);
    const QColor coherence = color3();
    setColor(QColor::fromRgbF(coherence.redF(), coherence.greenF(), 0.0f, 0.6f), kCoherenceTrace);
    setColor(KOColorAdditions::nextColor(), kPhaseTrace);
    createADelayFinderInFuture();
}

void KORTTransferMeasWrapper::initWithCoder(KeyedUnarchiver& coder) {
    KOTransferMeasurementWrapper::initWithCoder(coder);
    setupAnalyzer();
    setSourceChannel(coder.decodeInt(QString::fromLatin1(kSourceChannelKey), 0));
    setResponseChannel(coder.decodeInt(QString::fromLatin1(kResponseChannelKey), 1));
    const qint64 window = coder.decodeInt(QString::fromLatin1(kWindowTypeKey), 0);
    if (window != 0)
        setWindowType(std::uint32_t(std::int32_t(window)));
    const double rate =
        coder.decodeDouble(QString::fromLatin1(kAveragingRateKey), double(kDefaultAveragingRate));
    if (!std::isfinite(rate) || rate < kLowestAveragingRate || rate > kHighestAveragingRate) {
        koru::log::warn("Transfer: the archived averaging rate {} is unusable; using {}", rate,
                        kDefaultAveragingRate);
        setAveragingRate(kDefaultAveragingRate);
    } else {
        setAveragingRate(float(rate));
    }
    mDelayFinderResults->decode(coder, QString::fromLatin1(KODelayFinderResults::kArchiveKey));
}

void KORTTransferMeasWrapper::encodeWithCoder(KeyedArchiver& coder) const {
    KOTransferMeasurementWrapper::encodeWithCoder(coder);
    coder.encodeInt(QString::fromLatin1(kSourceChannelKey), sourceChannel());
    coder.encodeInt(QString::fromLatin1(kResponseChannelKey), responseChannel());
    coder.encodeInt(QString::fromLatin1(kWindowTypeKey), qint64(std::int32_t(windowType())));
    coder.encodeDouble(QString::fromLatin1(kAveragingRateKey), averagingRate());
    mDelayFinderResults->encode(coder, QString::fromLatin1(KODelayFinderResults::kArchiveKey));
}

void KORTTransferMeasWrapper::setupAnalyzer() {
    if (mAnalyzer)
        return;
    const std::uint32_t size = isValidFFTSize(KOFFTInstrumentWrapperBase::FFTSize())
                                   ? KOFFTInstrumentWrapperBase::FFTSize()
                                   : kDefaultFFTSize;
    {
        const std::lock_guard lock(modelLock());
        mAnalyzer = std::make_unique<KOTransferAnalyzer>(size, koru::platform::fourCC("hann"));
    }
    KOAudioDevice::sharedAudioDevice().addInputClient(mAnalyzer.get());
    setAveragingRate(kDefaultAveragingRate);
}

void KORTTransferMeasWrapper::setFFTSize(std::uint32_t size) {
    koru::log::info("set FFTSize of {}: {}", title().toStdString(), size);
    KOTransferMeasurementWrapper::setFFTSize(size);
    setupAnalyzer();
    koru::platform::InternalInconsistencyException::check(mAnalyzer != nullptr, kAnalyzerIsNull);
    {
        const std::lock_guard lock(modelLock());
        mAnalyzer->SetFFTSize(KOFFTInstrumentWrapperBase::FFTSize());
    }
    // Again now that the analyser computes the new size: the window reads it from there.
    notifyFFTSizeChanged();
}

std::uint32_t KORTTransferMeasWrapper::FFTSize() const {
    return mAnalyzer ? mAnalyzer->FFTSize() : KOFFTInstrumentWrapperBase::FFTSize();
}

std::uint32_t KORTTransferMeasWrapper::windowType() const {
    return mAnalyzer ? mAnalyzer->WindowType() : koru::platform::fourCC("hann");
}

void KORTTransferMeasWrapper::setWindowType(std::uint32_t type) {
    {
        const std::lock_guard lock(modelLock());
        if (mAnalyzer)
            mAnalyzer->SetWindowType(type);
    }
    KOTransferMeasurementWrapper::setWindowType(type);
}

qint64 KORTTransferMeasWrapper::clampedChannel(qint64 channel) {
    if (channel >= 0 && channel < kMaximumChannels)
        return channel;
    const qint64 clamped = std::clamp<qint64>(channel, 0, kMaximumChannels - 1);
    koru::log::warn("Transfer: input channel {} does not exist; using channel {}", channel,
                    clamped);
    return clamped;
}

qint64 KORTTransferMeasWrapper::sourceChannel() const {
    return mAnalyzer ? qint64(mAnalyzer->SourceChannel()) : -1;
}

qint64 KORTTransferMeasWrapper::responseChannel() const {
    return mAnalyzer ? qint64(mAnalyzer->ResponseChannel()) : -1;
}

void KORTTransferMeasWrapper::setSourceChannel(qint64 channel) {
    setupAnalyzer();
    koru::platform::InternalInconsistencyException::check(mAnalyzer != nullptr, kAnalyzerIsNull);
    const bool patchNext =
        delegate() != nullptr && delegate()->shouldPatchToNextConsecutiveChannel(this);
    const std::lock_guard lock(modelLock());
    const auto ch = std::uint32_t(clampedChannel(channel));
    mAnalyzer->SetSourceChannel(ch);
    if (patchNext)
        mAnalyzer->SetResponseChannel(KOAudioDevice::sharedAudioDevice().channelAfterIndex(ch));
    emit channelsChanged();
    emit delayChanged();
    channelsChangedForDelayFinder();
}

void KORTTransferMeasWrapper::setResponseChannel(qint64 channel) {
    setupAnalyzer();
    koru::platform::InternalInconsistencyException::check(mAnalyzer != nullptr, kAnalyzerIsNull);
    const bool patchNext =
        delegate() != nullptr && delegate()->shouldPatchToNextConsecutiveChannel(this);
    const std::lock_guard lock(modelLock());
    const auto ch = std::uint32_t(clampedChannel(channel));
    mAnalyzer->SetResponseChannel(ch);
    if (patchNext)
        mAnalyzer->SetSourceChannel(KOAudioDevice::sharedAudioDevice().channelAfterIndex(ch));
    emit channelsChanged();
    emit delayChanged();
    channelsChangedForDelayFinder();
}

qint64 KORTTransferMeasWrapper::sourceDelay() const {
    // Nothing to show while the delay is being measured.
    if (!mAnalyzer || !mDelayFinderRun->status().isEmpty())
        return 0;
    return qint64(mAnalyzer->Delay()) - delayOffset();
}

void KORTTransferMeasWrapper::setSourceDelay(qint64 delay) {
    if (!mAnalyzer)
        return;
    const qint64 total = delayOffset() + delay;
    if (total < 0 || total > KOTransferAnalyzer::kMaximumDelay)
        koru::log::warn("Transfer: a delay of {} samples is outside 0..{}; clamped", total,
                        KOTransferAnalyzer::kMaximumDelay);
    mAnalyzer->SetDelay(total);
    mAnalyzer->ResetSpectra();
    emit delayChanged();
}

void KORTTransferMeasWrapper::setRefToDelayTime() {
    if (mAnalyzer)
        setDelayOffset(mAnalyzer->Delay());
}

float KORTTransferMeasWrapper::averagingRate() const {
    return mAnalyzer ? mAnalyzer->AveragingRate() * 100.0f : -1.0f;
}

void KORTTransferMeasWrapper::setAveragingRate(float percent) {
    if (!mAnalyzer)
        return;
    const float clamped = std::isnan(percent)
                              ? kDefaultAveragingRate
                              : std::clamp(percent, kLowestAveragingRate, kHighestAveragingRate);
    mAnalyzer->SetAveragingRate(clamped / 100.0f);
}

void KORTTransferMeasWrapper::setPaused(bool paused) {
    if (mAnalyzer)
        mAnalyzer->SetAnalyzerPaused(paused);
}

bool KORTTransferMeasWrapper::isPaused() const {
    return mAnalyzer ? mAnalyzer->IsAnalyzerPaused() : true;
}

void KORTTransferMeasWrapper::setPause(bool pause) {
    KOTransferMeasurementWrapper::setPause(pause);
    if (mAnalyzer)
        mAnalyzer->SetPaused(pause);
}

void KORTTransferMeasWrapper::resetAspec() {
    if (mAnalyzer)
        mAnalyzer->ResetSpectra();
}

bool KORTTransferMeasWrapper::shouldCollect() {
    return mAnalyzer && (mAnalyzer->HasNewData() || mAnalyzer->IsPaused());
}

void KORTTransferMeasWrapper::collect() {
    const std::lock_guard lock(modelLock());
    if (!mAnalyzer || !transferResults())
        return;
    mAnalyzer->CopyResults(*transferResults(), drawTrace2());
    // Lock order: the model lock, then the run's own.
    mDelayFinderRun->collect();
}

void KORTTransferMeasWrapper::copyTransferResult(KOTransferResults& destination) {
    const std::lock_guard lock(modelLock());
    if (!mAnalyzer || !transferResults())
        return;
    // Always with phase: a hidden phase trace leaves the model's own phase stale.
    KOTransferResults fresh(*transferResults());
    mAnalyzer->CopyResults(fresh, true);
    destination = fresh;
}

bool KORTTransferMeasWrapper::prepareDataForExporting(KODataExporter& exporter) {
    {
        const std::lock_guard lock(modelLock());
        if (mAnalyzer && transferResults())
            mAnalyzer->CopyResults(*transferResults(), true);
    }
    return KOTransferMeasurementWrapper::prepareDataForExporting(exporter);
}

// ---------------------------------------------------------------- delay finder

QString KORTTransferMeasWrapper::delayFinderStatus() const {
    return mDelayFinderRun->status();
}

bool KORTTransferMeasWrapper::canStartDelayFinder() const {
    return !mDelayFinderRun->isRunning();
}

void KORTTransferMeasWrapper::createADelayFinderInFuture() {
    mDelayFinderStartTimer->stop();
    if (delayFinderStartsItself())
        mDelayFinderStartTimer->start();
}

void KORTTransferMeasWrapper::invokeDelayFinderFromTimer() {
    computeDelayWithCompletionBlock({});
}

void KORTTransferMeasWrapper::computeDelayWithCompletionBlock(Completion completion) {
    if (!mAnalyzer)
        return;
    // The run's own mutex guards the start; the engine is not entered under the model lock.
    if (!mDelayFinderRun->start(mAnalyzer->SourceChannel(), mAnalyzer->ResponseChannel()))
        return;
    mDelayCalcCompletion = std::move(completion);
    mDelayFinderStartTimer->stop();
    // The shown delay reads 0 from now on, and the status has changed.
    emit delayChanged();
}

void KORTTransferMeasWrapper::channelsChangedForDelayFinder() {
    if (mDelayFinderRun->isRunning())
        mDelayFinderRun->setChannels(mAnalyzer->SourceChannel(), mAnalyzer->ResponseChannel());
    else
        createADelayFinderInFuture();
}

QString KORTTransferMeasWrapper::delayComputation(const std::shared_ptr<KODelayFinderData>& data) {
    data->setName(QString::fromLatin1(kDelayFinderResultNameFormat)
                      .arg(title())
                      .arg(mDelayFinderResults->count() + 1));
    mDelayFinderResults->add(data);
    const std::optional<std::int64_t> delay = data->delayToApply();
    if (delay) {
        // The measured delay is the whole delay between the channels: the offset only changes
        // where the shown delay counts from.
        setSourceDelay(*delay - delayOffset());
    } else {
        ++mRefusedDelayResults;
        koru::log::warn("{}: the delay finder found no delay it could apply (peak at {}); the "
                        "delay stays at {} samples",
                        title().toStdString(), data->findPeakPosition(),
                        mAnalyzer ? mAnalyzer->Delay() : 0);
        resetAspec();
        emit delayChanged();
    }
    // One completion per request: a later run started by the timer must not call it again.
    Completion completion = std::move(mDelayCalcCompletion);
    mDelayCalcCompletion = {};
    if (completion)
        completion(*this, data);
    if (!delay)
        return QString::fromLatin1(kNoDelayFoundFormat).arg(title());
    return KODelayFinderRun::notificationText(title(), sourceDelayString());
}
