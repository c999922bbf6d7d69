#include "analysers/KOSpectrumAnaWrapperBase.h"

#include "engine/KOFloatBuffer.h"
#include "framework/KOFFTDrawingData.h"
#include "platform/exceptions/InternalInconsistencyException.h"
#include "platform/log/Log.h"

#include <algorithm>
#include <bit>
#include <mutex>
#include <thread>

namespace {

constexpr float kEmptySpectrumLevel = -144.0f;

// The plot holds a trace lock only for the drawing of that trace and never waits for anything
// meanwhile, so waiting for it here is short.
void lockTrace(KOFFTDrawingData& data) {
    while (!data.TryLock())
        std::this_thread::yield();
}

} // namespace

bool KOSpectrumAnaWrapperBase::isValidFFTSize(std::uint32_t size) {
    return std::has_single_bit(size) && size >= kMinimumFFTSize && size <= kMaximumFFTSize;
}

std::uint32_t KOSpectrumAnaWrapperBase::acceptedFFTSize(std::uint32_t requested,
                                                        std::uint32_t fallback) {
    if (isValidFFTSize(requested))
        return requested;
    const std::uint32_t kept = isValidFFTSize(fallback) ? fallback : kDefaultFFTSize;
    koru::log::warn("Spectrum: an FFT size of {} is not one of the analyser's (powers of two "
                    "from {} to {}); keeping {}",
                    requested, kMinimumFFTSize, kMaximumFFTSize, kept);
    return kept;
}

void KOSpectrumAnaWrapperBase::initWithName(const QString& title, std::uint32_t fftSize) {
    KOFFTInstrumentWrapperBase::initWithName(title, fftSize);
    KOFFTDrawingData& peak = *peakDrawingData();
    peak.setVisible(true);
    peak.setDrawMode(KOFFTDrawingData::kPeakBars);
    for (int i = 0; i < kTraceCount; ++i)
        drawingDataForTrace(i)->setShowDetails(false);
}

void KOSpectrumAnaWrapperBase::setFFTSize(std::uint32_t size) {
    {
        const std::lock_guard lock(modelLock());
        resizeSpectraLocked(acceptedFFTSize(size, FFTSize()));
    }
    notifyFFTSizeChanged();
}

void KOSpectrumAnaWrapperBase::resizeSpectraLocked(std::uint32_t size) {
    KOFFTInstrumentWrapperBase::setFFTSize(size);
    auto inst = std::make_unique<KOFloatBuffer>(size);
    auto peak = std::make_unique<KOFloatBuffer>(size);
    auto avg = std::make_unique<KOFloatBuffer>(size);
    for (KOFloatBuffer* empty : {peak.get(), avg.get()}) {
        empty->Fill(kEmptySpectrumLevel);
        empty->SetDecibel(true);
    }
    replaceSpectraLocked(std::move(inst), std::move(peak), std::move(avg));
}

void KOSpectrumAnaWrapperBase::replaceSpectraLocked(std::unique_ptr<KOFloatBuffer> inst,
                                                    std::unique_ptr<KOFloatBuffer> peak,
                                                    std::unique_ptr<KOFloatBuffer> avg) {
    struct Swap {
        int trace;
        std::unique_ptr<KOFloatBuffer>& owned;
        std::unique_ptr<KOFloatBuffer>& incoming;
    };
    const Swap swaps[] = {{kInstantaneousTrace, mInstData, inst},
                          {kPeakTrace, mPeakData, peak},
                          {kAverageTrace, mAvgData, avg}};
    for (const Swap& swap : swaps) {
        KOFFTDrawingData& data = *drawingDataForTrace(swap.trace);
        lockTrace(data);
        // The old buffer moves into the argument and is freed when this function returns.
        std::swap(swap.owned, swap.incoming);
        data.SetBuffer(swap.owned.get());
        data.Unlock();
    }
}

bool KOSpectrumAnaWrapperBase::drawInstantaneous() const {
    return drawingData()->visible();
}

void KOSpectrumAnaWrapperBase::setDrawInstantaneous(bool draws) {
    drawingData()->setVisible(draws);
    emit traceAttributesChanged();
}

bool KOSpectrumAnaWrapperBase::drawPeak() const {
    return peakDrawingData()->visible();
}

void KOSpectrumAnaWrapperBase::setDrawPeak(bool draws) {
    peakDrawingData()->setVisible(draws);
    emit traceAttributesChanged();
}

bool KOSpectrumAnaWrapperBase::drawAverage() const {
    return avgDrawingData()->visible();
}

void KOSpectrumAnaWrapperBase::setDrawAverage(bool draws) {
    avgDrawingData()->setVisible(draws);
    emit traceAttributesChanged();
}

KOSpectrumAnaWrapperBase::Spectra KOSpectrumAnaWrapperBase::copyOfSpectra() {
    const std::lock_guard lock(modelLock());
    const auto copy = [](const std::unique_ptr<KOFloatBuffer>& buffer) {
        return buffer ? std::make_unique<KOFloatBuffer>(*buffer) : nullptr;
    };
    return {copy(mInstData), copy(mPeakData), copy(mAvgData)};
}

bool KOSpectrumAnaWrapperBase::copyInstantaneousBins(std::vector<float>& destination) {
    const std::lock_guard lock(modelLock());
    if (!mInstData) {
        destination.clear();
        return false;
    }
    const std::uint32_t bins = mInstData->Length() / 2;
    destination.resize(bins);
    std::copy_n(mInstData->Data(), bins, destination.begin());
    return mInstData->IsDecibel();
}

QStringList KOSpectrumAnaWrapperBase::headers() const {
    return {QString::fromLatin1(kFrequencyHeader), QString::fromLatin1(kInstantaneousHeader),
            QString::fromLatin1(kAverageHeader), QString::fromLatin1(kPeakHeader)};
}

bool KOSpectrumAnaWrapperBase::prepareDataForExporting(KODataExporter&) {
    const double rate = delegateSampleRate();
    std::array<std::unique_ptr<KOFloatBuffer>, kTraceCount> copies;
    {
        const std::lock_guard lock(modelLock());
        if (!mInstData || !mAvgData || !mPeakData)
            return false;
        copies = {std::make_unique<KOFloatBuffer>(*mInstData),
                  std::make_unique<KOFloatBuffer>(*mAvgData),
                  std::make_unique<KOFloatBuffer>(*mPeakData)};
    }
    for (auto& copy : copies) {
        koru::platform::InternalInconsistencyException::check(copy->Length() == copies[0]->Length(),
                                                              kExportLengthMismatch);
        copy->ToDecibels(1, 1.0f);
        replaceNonFiniteByFloor(*copy);
    }
    setExportData(std::move(copies), rate);
    return true;
}
