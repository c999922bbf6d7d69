#pragma once

#include "analysers/KOSpectrumAnaWrapperBase.h"
#include "engine/KOSpectrumAnalyzer.h"

#include <QString>

#include <atomic>
#include <cstdint>
#include <memory>

// The live spectrum measurement: owns one KOSpectrumAnalyzer, registered with the audio device
// for the wrapper's whole life, and on the collector thread turns each new spectrum into the
// instantaneous, average and peak-hold spectra.
//
// Collection, under the model lock: (1) stop unless the analyser has a new spectrum or is
// paused; (2) read the averaging rate R; (3) collect the newest spectrum into the instantaneous
// buffer (linear, flag cleared); (4) stop while fewer than 4 spectra exist since the size was
// set; over the N/2 bins (5) peak = max(peak, inst), (6) avg = (avg·R + inst) / (R + 1),
// (7) clip the average, then the peak, to [1e-11, 1], (8) peak ×= 10^(fall/20); (9) clear the
// average's and the peak's decibel flags. While paused every cycle collects the last spectrum
// again: the average converges to it and the peak falls towards it.
//
// The buffers always have the analyser's own size: a size the analyser would refuse is refused
// here too (logged), so a collection never writes past a buffer.
class KOSpectrumAnalyzerWrapper : public KOSpectrumAnaWrapperBase {
    Q_OBJECT
public:
    static constexpr const char* kClassName = "KOSpectrumAnalyzerWrapper";
    static constexpr const char* kAverageRateKey = "SpectrumAnalyzer.AverageRate";
    static constexpr const char* kPeakFallRateKey = "SpectrumAnalyzer.PeakFallRate";
    static constexpr const char* kInputChannelKey = "SpectrumAnalyzer.InputChannel";
    static constexpr const char* kTitleFormat = "Analyzer %1";
    static constexpr const char* kAnalyzerIsNull = "Analyzer is NULL";
    static constexpr const char* kIconName = "realtime.png";

    static constexpr float kDefaultAverageRate = 25.0f;
    static constexpr float kDefaultPeakFallRate = -0.3f;
    static constexpr float kLowestPeakFallRate = -2.0f;
    static constexpr float kResetLevel = 1e-11f;
    static constexpr float kHighestLevel = 1.0f;
    // Collections before the fourth spectrum leave average and peak alone.
    static constexpr std::uint32_t kSpectraBeforeAveraging = 3;

    // Makes archives of the live wrapper and of its snapshot readable; safe to call often.
    static void registerArchiveClasses();
    // A new wrapper titled "Analyzer <n>" (n counts the wrappers made this way in this process).
    static std::unique_ptr<KOSpectrumAnalyzerWrapper> createWithFFTSize(std::uint32_t size);

    KOSpectrumAnalyzerWrapper();
    // Removes the analyser from the audio engine before anything of it is freed.
    ~KOSpectrumAnalyzerWrapper() override;

    QString archiveClassName() const override { return QString::fromLatin1(kClassName); }

    // Second phase of createWithFFTSize: averaging 25, peak fall -0.3 dB, peak and average reset.
    void initWithFFTSize(std::uint32_t size);
    // Then the channel, averaging rate and peak fall (absent keys read 0), and a reset.
    void initWithCoder(koru::platform::KeyedUnarchiver& coder) override;
    void encodeWithCoder(koru::platform::KeyedArchiver& coder) const override;

    // The first call creates and registers the analyser (window 'hann'); later calls resize it,
    // which restarts its count of spectra.
    void setFFTSize(std::uint32_t size) override;
    std::uint32_t FFTSize() const override;
    std::uint32_t windowType() const override;
    void setWindowType(std::uint32_t type) override;

    // The analyser's channel. A negative index selects channel 0; the analyser clamps to the
    // engine's channels. Without an analyser: -1, and setting throws "Analyzer is NULL".
    qint64 inputChannel() const override;
    void setInputChannel(qint64 channel) override;

    // Clamped to [-2, 0] dB.
    void setPeakFallRate(float rate) override;
    float linearPeakFallRate() const { return mLinearPeakFallRate.load(std::memory_order_relaxed); }

    // Average and peak back to 1e-11 (linear, so their decibel flags are cleared).
    void resetPeak() override;
    void reset() override { resetPeak(); }

    bool shouldCollect() override;
    void collect() override;

    bool pauseable() const override { return true; }
    void setPause(bool pause) override;
    bool isEditable() const override { return true; }

    // The measurement's signal processing (owned).
    KOSpectrumAnalyzer* analyzer() const { return mAnalyzer.get(); }

private:
    void registerAnalyzer();

    std::unique_ptr<KOSpectrumAnalyzer> mAnalyzer;
    std::atomic<float> mLinearPeakFallRate{1.0f};
};
