#include "analysers/KOSpectrumAnalyzerSnapshot.h"

#include "analysers/KOFloatBufferCoding.h"
#include "analysers/KOSpectrumAnalyzerWrapper.h"
#include "app/DateValueFormatter.h"
#include "engine/KOFloatBuffer.h"

#include <chrono>
#include <mutex>

using koru::platform::KeyedArchiver;
using koru::platform::KeyedUnarchiver;

std::unique_ptr<KOSpectrumAnalyzerSnapshot>
KOSpectrumAnalyzerSnapshot::createWithWrapper(KOSpectrumAnalyzerWrapper& wrapper) {
    auto snapshot = std::make_unique<KOSpectrumAnalyzerSnapshot>();
    snapshot->initWithWrapper(wrapper);
    return snapshot;
}

void KOSpectrumAnalyzerSnapshot::initWithWrapper(KOSpectrumAnalyzerWrapper& wrapper) {
    const QString source = wrapper.title();
    initWithName(QString::fromLatin1(kTitleFormat).arg(source), wrapper.FFTSize());
    setDrawAverage(wrapper.drawAverage());
    setDrawInstantaneous(wrapper.drawInstantaneous());
    setDrawPeak(wrapper.drawPeak());

    // One consistent set: the collector may be writing the wrapper's buffers right now.
    Spectra copies = wrapper.copyOfSpectra();
    {
        const std::lock_guard lock(modelLock());
        const auto sameLength = [](std::unique_ptr<KOFloatBuffer> copy, const KOFloatBuffer* own) {
            if (copy && copy->Length() == own->Length())
                return copy;
            return std::make_unique<KOFloatBuffer>(*own);
        };
        replaceSpectraLocked(sameLength(std::move(copies.instantaneous), instData()),
                             sameLength(std::move(copies.peak), peakData()),
                             sameLength(std::move(copies.average), avgData()));
    }

    setAccumulationMode(wrapper.accumulationMode());
    setOctaveMode(wrapper.octaveMode());
    setWindowType(wrapper.windowType());
    const koru::DateValueFormatter medium(QLocale(), koru::DateValueFormatter::MediumStyle,
                                          koru::DateValueFormatter::MediumStyle);
    setNotes(QString::fromLatin1(kNotesFormat)
                 .arg(source, medium.stringFromDate(std::chrono::system_clock::now())));
}

void KOSpectrumAnalyzerSnapshot::initWithCoder(KeyedUnarchiver& coder) {
    KOSpectrumAnaWrapperBase::initWithCoder(coder);
    const std::uint32_t size = FFTSize();
    auto inst = KOFloatBufferCoding::decodeFloatBufferForKey(
        coder, QString::fromLatin1(kInstantaneousKey), size);
    auto avg =
        KOFloatBufferCoding::decodeFloatBufferForKey(coder, QString::fromLatin1(kAverageKey), size);
    auto peak =
        KOFloatBufferCoding::decodeFloatBufferForKey(coder, QString::fromLatin1(kPeakKey), size);
    const std::lock_guard lock(modelLock());
    replaceSpectraLocked(std::move(inst), std::move(peak), std::move(avg));
}

void KOSpectrumAnalyzerSnapshot::encodeWithCoder(KeyedArchiver& coder) const {
    KOSpectrumAnaWrapperBase::encodeWithCoder(coder);
    KOFloatBufferCoding::encodeFloatBuffer(coder, *instData(),
                                           QString::fromLatin1(kInstantaneousKey));
    KOFloatBufferCoding::encodeFloatBuffer(coder, *avgData(), QString::fromLatin1(kAverageKey));
    KOFloatBufferCoding::encodeFloatBuffer(coder, *peakData(), QString::fromLatin1(kPeakKey));
}
