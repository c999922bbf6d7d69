#include "analysers/KOSpectrumAnalyzerWrapper.h"

#include "analysers/KOSpectrumAnalyzerSnapshot.h"
#include "engine/KOAudioDevice.h"
#include "engine/KOFloatBuffer.h"
#include "engine/KOSpectrumAnalyzer.h"
#include "platform/exceptions/InternalInconsistencyException.h"
#include "platform/fourcc/FourCC.h"
#include "platform/log/Log.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QIcon>
#include <QImage>
#include <QPainter>
#include <QPixmap>
#include <QThread>

#include <algorithm>
#include <cmath>
#include <mutex>

using koru::platform::KeyedArchiver;
using koru::platform::KeyedUnarchiver;

namespace {

// Archives of both classes are readable whether or not this program made a wrapper yet.
const bool registeredAtStart = (KOSpectrumAnalyzerWrapper::registerArchiveClasses(), true);

std::atomic<int> gWrappersMade{0};

// The engine never has more channels than this; an index from a file beyond it is damage.
constexpr qint64 kMaximumChannels = 256;

// "realtime.png": a red dot on a dark ring, the mark of a measurement that is running.
QIcon realtimeIcon() {
    static const QIcon icon = [] {
        QImage image(32, 32, QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::transparent);
        QPainter painter(&image);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(QPen(QColor(40, 40, 40), 3.0));
        painter.setBrush(QColor(220, 30, 30));
        painter.drawEllipse(QRectF(5.5, 5.5, 21.0, 21.0));
        painter.end();
        return QIcon(QPixmap::fromImage(image));
    }();
    return icon;
}

// Icons need the GUI application and its thread; a model decoded elsewhere goes without.
bool canMakeIcons() {
    const auto* application = qobject_cast<QGuiApplication*>(QCoreApplication::instance());
    return application != nullptr && QThread::currentThread() == application->thread();
}

} // namespace

void KOSpectrumAnalyzerWrapper::registerArchiveClasses() {
    static std::once_flag once;
    std::call_once(once, [] {
        registerArchiveClass<KOSpectrumAnalyzerWrapper>(QString::fromLatin1(kClassName));
        registerArchiveClass<KOSpectrumAnalyzerSnapshot>(
            QString::fromLatin1(KOSpectrumAnalyzerSnapshot::kClassName));
    });
}

std::unique_ptr<KOSpectrumAnalyzerWrapper>
KOSpectrumAnalyzerWrapper::createWithFFTSize(std::uint32_t size) {
    auto wrapper = std::make_unique<KOSpectrumAnalyzerWrapper>();
    wrapper->initWithFFTSize(size);
    return wrapper;
}

KOSpectrumAnalyzerWrapper::KOSpectrumAnalyzerWrapper() {
    (void)registeredAtStart;
}

KOSpectrumAnalyzerWrapper::~KOSpectrumAnalyzerWrapper() = default;

void KOSpectrumAnalyzerWrapper::initWithFFTSize(std::uint32_t size) {
    const int number = gWrappersMade.fetch_add(1) + 1;
    initWithName(QString::fromLatin1(kTitleFormat).arg(number), size);
    setAvgRate(kDefaultAverageRate);
    setPeakFallRate(kDefaultPeakFallRate);
    resetPeak();
    if (canMakeIcons())
        setIcon(realtimeIcon());
}

void KOSpectrumAnalyzerWrapper::initWithCoder(KeyedUnarchiver& coder) {
    KOSpectrumAnaWrapperBase::initWithCoder(coder);
    setInputChannel(coder.decodeInt(QString::fromLatin1(kInputChannelKey), 0));
    const double rate = coder.decodeDouble(QString::fromLatin1(kAverageRateKey), 0.0);
    // A negative or non-finite weight would divide by zero or poison every bin for good.
    if (!(rate >= 0.0 && std::isfinite(rate))) {
        koru::log::warn("Spectrum: the archived averaging rate {} is unusable; using {}", rate,
                        kDefaultAverageRate);
        setAvgRate(kDefaultAverageRate);
    } else {
        setAvgRate(float(rate));
    }
    setPeakFallRate(float(coder.decodeDouble(QString::fromLatin1(kPeakFallRateKey), 0.0)));
    resetPeak();
    if (canMakeIcons())
        setIcon(realtimeIcon());
}

void KOSpectrumAnalyzerWrapper::encodeWithCoder(KeyedArchiver& coder) const {
    KOSpectrumAnaWrapperBase::encodeWithCoder(coder);
    coder.encodeDouble(QString::fromLatin1(kAverageRateKey), avgRate());
    coder.encodeDouble(QString::fromLatin1(kPeakFallRateKey), peakFallRate());
    coder.encodeInt(QString::fromLatin1(kInputChannelKey), inputChannel());
}

void KOSpectrumAnalyzerWrapper::setFFTSize(std::uint32_t requested) {
    bool created = false;
    {
        const std::lock_guard lock(modelLock());
        const std::uint32_t size = acceptedFFTSize(requested, FFTSize());
        if (!mAnalyzer) {
            mAnalyzer = std::make_unique<KOSpectrumAnalyzer>(size, koru::platform::fourCC("hann"));
            created = true;
        } else {
            mAnalyzer->SetFFTSize(size);
        }
        // What the analyser really computes decides the buffers, never the request.
        resizeSpectraLocked(mAnalyzer->FFTSize());
    }
    // Outside the model lock: registration may wait for the engine, or show the safe-mode alert.
    if (created)
        registerAnalyzer();
    notifyFFTSizeChanged();
}

void KOSpectrumAnalyzerWrapper::registerAnalyzer() {
    KOAudioDevice::sharedAudioDevice().addInputClient(mAnalyzer.get());
}

std::uint32_t KOSpectrumAnalyzerWrapper::FFTSize() const {
    return mAnalyzer ? mAnalyzer->FFTSize() : KOSpectrumAnaWrapperBase::FFTSize();
}

std::uint32_t KOSpectrumAnalyzerWrapper::windowType() const {
    return mAnalyzer ? mAnalyzer->WindowType() : koru::platform::fourCC("hann");
}

void KOSpectrumAnalyzerWrapper::setWindowType(std::uint32_t type) {
    {
        const std::lock_guard lock(modelLock());
        if (mAnalyzer)
            mAnalyzer->SetWindowType(type);
    }
    KOSpectrumAnaWrapperBase::setWindowType(type);
}

qint64 KOSpectrumAnalyzerWrapper::inputChannel() const {
    return mAnalyzer ? qint64(mAnalyzer->Channel()) : -1;
}

void KOSpectrumAnalyzerWrapper::setInputChannel(qint64 channel) {
    koru::platform::InternalInconsistencyException::check(mAnalyzer != nullptr, kAnalyzerIsNull);
    if (channel < 0 || channel >= kMaximumChannels) {
        const qint64 clamped = std::clamp<qint64>(channel, 0, kMaximumChannels - 1);
        koru::log::warn("Spectrum: input channel {} does not exist; using channel {}", channel,
                        clamped);
        channel = clamped;
    }
    mAnalyzer->SetChannel(std::uint32_t(channel));
}

void KOSpectrumAnalyzerWrapper::setPeakFallRate(float rate) {
    // NaN falls to 0 too: no fall rather than a peak that becomes NaN.
    const float clamped = !(rate <= 0.0f) ? 0.0f : std::max(rate, kLowestPeakFallRate);
    KOSpectrumAnaWrapperBase::setPeakFallRate(clamped);
    mLinearPeakFallRate.store(std::pow(10.0f, clamped / 20.0f), std::memory_order_relaxed);
}

void KOSpectrumAnalyzerWrapper::resetPeak() {
    const std::lock_guard lock(modelLock());
    for (KOFloatBuffer* buffer : {peakData(), avgData()}) {
        if (buffer == nullptr)
            continue;
        buffer->Fill(kResetLevel);
        // The floor is linear: a decibel flag left from the last size change would show it as
        // 0 dB until averaging starts.
        buffer->SetDecibel(false);
    }
}

bool KOSpectrumAnalyzerWrapper::shouldCollect() {
    KOSpectrumAnalyzer* analyzer = mAnalyzer.get();
    if (analyzer == nullptr || (!analyzer->HasNewData() && !analyzer->IsPaused()))
        return false;
    return analyzer->Analyses() > kSpectraBeforeAveraging;
}

void KOSpectrumAnalyzerWrapper::collect() {
    const std::lock_guard lock(modelLock());
    KOSpectrumAnalyzer* analyzer = mAnalyzer.get();
    if (analyzer == nullptr || (!analyzer->HasNewData() && !analyzer->IsPaused()))
        return;
    const float rate = avgRate();
    KOFloatBuffer& inst = *instData();
    analyzer->Collect(inst);
    if (analyzer->Analyses() <= kSpectraBeforeAveraging)
        return;
    KOFloatBuffer& peak = *peakData();
    KOFloatBuffer& avg = *avgData();
    const std::uint32_t bins = inst.Length() / 2;
    const float* in = inst.Data();
    float* peaks = peak.Data();
    float* averages = avg.Data();
    const float fall = linearPeakFallRate();
    const float weight = rate + 1.0f;
    for (std::uint32_t k = 0; k < bins; ++k) {
        const float held = std::max(peaks[k], in[k]);
        const float averaged = (averages[k] * rate + in[k]) / weight;
        averages[k] = std::min(std::max(averaged, kResetLevel), kHighestLevel);
        peaks[k] = std::min(std::max(held, kResetLevel), kHighestLevel) * fall;
    }
    avg.SetDecibel(false);
    peak.SetDecibel(false);
}

void KOSpectrumAnalyzerWrapper::setPause(bool pause) {
    if (!mAnalyzer)
        return;
    mAnalyzer->SetPaused(pause);
    KOSpectrumAnaWrapperBase::setPause(pause);
}
