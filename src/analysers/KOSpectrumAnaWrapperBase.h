#pragma once

#include "analysers/KOFFTInstrumentWrapperBase.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <vector>

// Three spectra of one FFT size N: instantaneous (trace 1), peak hold (trace 2) and average
// (trace 3), each a buffer of N values of which bins 0 .. N/2 - 1 are meaningful, held as linear
// amplitudes while the buffer's decibel flag is clear. Exported as "f", "Inst", "Avg", "Peak".
//
// N is a power of two from 8192 to 65536, the sizes the analyser computes; another request is
// refused with a log line and the model keeps its size (the default 16384 when it has none yet).
//
// Buffers are replaced under the model lock and, trace by trace, under the trace's lock, so a
// plot that holds a trace lock never reads a buffer that is being freed.
class KOSpectrumAnaWrapperBase : public KOFFTInstrumentWrapperBase {
    Q_OBJECT
    Q_PROPERTY(bool drawInstantaneous READ drawInstantaneous WRITE setDrawInstantaneous NOTIFY
                   traceAttributesChanged)
    Q_PROPERTY(bool drawPeak READ drawPeak WRITE setDrawPeak NOTIFY traceAttributesChanged)
    Q_PROPERTY(bool drawAverage READ drawAverage WRITE setDrawAverage NOTIFY traceAttributesChanged)
public:
    static constexpr const char* kInstantaneousHeader = "Inst";
    static constexpr const char* kAverageHeader = "Avg";
    static constexpr const char* kPeakHeader = "Peak";
    static constexpr const char* kExportLengthMismatch = "export length does not match";

    static constexpr std::uint32_t kMinimumFFTSize = 8192;
    static constexpr std::uint32_t kMaximumFFTSize = 65536;
    static constexpr int kInstantaneousTrace = 0;
    static constexpr int kPeakTrace = 1;
    static constexpr int kAverageTrace = 2;

    static bool isValidFFTSize(std::uint32_t size);

    // The base's, then the peak trace visible in "Pk Bar" mode and no trace showing details.
    void initWithName(const QString& title, std::uint32_t fftSize) override;
    using KOFFTInstrumentWrapperBase::initWithName;

    // Fresh buffers of N: the instantaneous zeroed, average and peak at -144 dB (flagged as
    // decibels); then the delegate hears of the size.
    void setFFTSize(std::uint32_t size) override;

    KOFFTDrawingData* drawingData() const { return drawingDataForTrace(kInstantaneousTrace); }
    KOFFTDrawingData* peakDrawingData() const { return drawingDataForTrace(kPeakTrace); }
    KOFFTDrawingData* avgDrawingData() const { return drawingDataForTrace(kAverageTrace); }

    // The traces' visible flags, with no delegate call.
    bool drawInstantaneous() const;
    void setDrawInstantaneous(bool draws);
    bool drawPeak() const;
    void setDrawPeak(bool draws);
    bool drawAverage() const;
    void setDrawAverage(bool draws);

    // The live measurement overrides these; here: no channel (-1), not editable, nothing to
    // collect.
    virtual qint64 inputChannel() const { return -1; }
    virtual void setInputChannel(qint64 channel) { (void)channel; }
    virtual bool isEditable() const { return false; }
    virtual void resetPeak() {}

    // dB per collection.
    float peakFallRate() const { return mPeakFallRate.load(std::memory_order_relaxed); }
    virtual void setPeakFallRate(float rate) {
        mPeakFallRate.store(rate, std::memory_order_relaxed);
    }
    // The weight of the old average against one new spectrum.
    float avgRate() const { return mAvgRate.load(std::memory_order_relaxed); }
    void setAvgRate(float rate) { mAvgRate.store(rate, std::memory_order_relaxed); }

    // Copies of the three spectra (all N values and the decibel flags), taken together under the
    // model lock; for readers off the collector's path (snapshots, tests).
    struct Spectra {
        std::unique_ptr<KOFloatBuffer> instantaneous;
        std::unique_ptr<KOFloatBuffer> peak;
        std::unique_ptr<KOFloatBuffer> average;
    };
    Spectra copyOfSpectra();
    // The N/2 meaningful instantaneous values into `destination` (resized when needed, so a
    // caller that keeps it allocates only on a size change); answers the decibel flag.
    bool copyInstantaneousBins(std::vector<float>& destination);

    // "f", "Inst", "Avg", "Peak".
    QStringList headers() const override;
    // Copies of the instantaneous, average and peak buffers under the model lock, each in
    // 20·log10 unless already flagged as decibels, silence at the -144 floor.
    bool prepareDataForExporting(KODataExporter& exporter) override;

protected:
    // The buffers themselves: hold the model lock.
    KOFloatBuffer* instData() const { return mInstData.get(); }
    KOFloatBuffer* peakData() const { return mPeakData.get(); }
    KOFloatBuffer* avgData() const { return mAvgData.get(); }

    // An accepted size for a request: itself when valid, else `fallback` (logged).
    static std::uint32_t acceptedFFTSize(std::uint32_t requested, std::uint32_t fallback);
    // Model lock held: fresh buffers of `size` as setFFTSize describes, size stored.
    void resizeSpectraLocked(std::uint32_t size);
    // Model lock held: takes the three buffers (each of the model's FFT size) and binds the
    // traces to them; the old ones are freed after every trace let go of them.
    void replaceSpectraLocked(std::unique_ptr<KOFloatBuffer> inst,
                              std::unique_ptr<KOFloatBuffer> peak,
                              std::unique_ptr<KOFloatBuffer> avg);

private:
    std::unique_ptr<KOFloatBuffer> mInstData;
    std::unique_ptr<KOFloatBuffer> mPeakData;
    std::unique_ptr<KOFloatBuffer> mAvgData;
    std::atomic<float> mPeakFallRate{0.0f};
    std::atomic<float> mAvgRate{0.0f};
};
