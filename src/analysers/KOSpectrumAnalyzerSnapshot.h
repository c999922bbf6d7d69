#pragma once

#include "analysers/KOSpectrumAnaWrapperBase.h"

#include <memory>

class KOSpectrumAnalyzerWrapper;

// A frozen copy of a live spectrum measurement, archived with its three spectra under
// "inst.fftsnapshot", "avg.fftsnapshot" and "peak.fftsnapshot". It collects nothing, but asks to
// be collected on every cycle, so a window showing it first keeps redrawing.
class KOSpectrumAnalyzerSnapshot : public KOSpectrumAnaWrapperBase {
    Q_OBJECT
public:
    static constexpr const char* kClassName = "KOSpectrumAnalyzerSnapshot";
    static constexpr const char* kInstantaneousKey = "inst.fftsnapshot";
    static constexpr const char* kAverageKey = "avg.fftsnapshot";
    static constexpr const char* kPeakKey = "peak.fftsnapshot";
    static constexpr const char* kTitleFormat = "Snapshot %1";
    static constexpr const char* kNotesFormat = "Snapshot of %1, created %2";

    // A snapshot of `wrapper` as it is now (main thread).
    static std::unique_ptr<KOSpectrumAnalyzerSnapshot>
    createWithWrapper(KOSpectrumAnalyzerWrapper& wrapper);

    QString archiveClassName() const override { return QString::fromLatin1(kClassName); }

    // Titled "Snapshot <title>", the wrapper's size, visible flags, spectra (copied under the
    // wrapper's lock, with their decibel flags), accumulation mode and octave resolution; notes
    // "Snapshot of <title>, created <date and time>" in the locale's medium styles. The traces
    // take fresh colours.
    void initWithWrapper(KOSpectrumAnalyzerWrapper& wrapper);
    // The base's decoding, then the three spectra; a missing or damaged one is a zeroed buffer
    // of the FFT size (logged).
    void initWithCoder(koru::platform::KeyedUnarchiver& coder) override;
    void encodeWithCoder(koru::platform::KeyedArchiver& coder) const override;

    bool shouldCollect() override { return true; }
};
