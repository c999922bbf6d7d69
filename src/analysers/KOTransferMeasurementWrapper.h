#pragma once

#include "analysers/KODelayFinderMeasurement.h"
#include "analysers/KODelayFinderResults.h"
#include "analysers/KOFFTInstrumentWrapperBase.h"
#include "engine/KOTransferResults.h"
#include "platform/notifications/NotificationCenter.h"

#include <QString>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>

class KODelayFinderRun;
class KOTransferAnalyzer;
class QTimer;

// A transfer-function measurement drawn as three traces: magnitude (trace 1, |H|² as a power
// ratio, or decibels where the buffer's flag says so), phase in radians (trace 2) and coherence
// 0..1 (trace 3). This base holds fixed results (snapshots and derived measurements); the live
// measurement below fills them from its analyser. Exported as "f", "Mag" (dB), "Phi" (rad) and
// "Coh", two fraction digits each.
//
// The results are only written under the model lock, and their buffers are swapped under each
// trace's lock as well; the plot converts the magnitude to decibels on the fly rather than in
// place, so the collector never rewrites a buffer the export is copying.
class KOTransferMeasurementWrapper : public KOFFTInstrumentWrapperBase {
    Q_OBJECT
    Q_PROPERTY(qint64 delayOffset READ delayOffset WRITE setDelayOffset NOTIFY delayChanged)
    Q_PROPERTY(qint64 sourceDelay READ sourceDelay WRITE setSourceDelay NOTIFY delayChanged)
public:
    static constexpr const char* kClassName = "KOTransferMeasurementWrapper";
    static constexpr const char* kDelayOffsetKey = "delayOffset";
    static constexpr const char* kMagnitudeHeader = "Mag";
    static constexpr const char* kPhaseHeader = "Phi";
    static constexpr const char* kCoherenceHeader = "Coh";
    static constexpr const char* kPhaseUnit = "rad";
    static constexpr const char* kExportLengthMismatch = "export length does not match";
    static constexpr int kMagnitudeTrace = 0;
    static constexpr int kPhaseTrace = 1;
    static constexpr int kCoherenceTrace = 2;
    static constexpr double kOffsetLimit = 96.0;
    static constexpr std::uint32_t kMinimumFFTSize = 8192;
    static constexpr std::uint32_t kMaximumFFTSize = 65536;
    static constexpr std::uint32_t kWindowFFTSize = 32768;

    static bool isValidFFTSize(std::uint32_t size);
    // Makes archives of every transfer class readable; safe to call often.
    static void registerArchiveClasses();

    KOTransferMeasurementWrapper();
    ~KOTransferMeasurementWrapper() override;
    QString archiveClassName() const override { return QString::fromLatin1(kClassName); }

    // Offset 0; phase and coherence hidden and drawn as lines.
    void initWithName(const QString& title, std::uint32_t fftSize) override;
    using KOFFTInstrumentWrapperBase::initWithName;
    void initWithCoder(koru::platform::KeyedUnarchiver& coder) override;
    void encodeWithCoder(koru::platform::KeyedArchiver& coder) const override;

    // A size outside the powers of two 8192..65536 is refused with a log line (the model keeps
    // its size). The results are resampled to the new size and the traces rebound.
    void setFFTSize(std::uint32_t size) override;

    KOFFTDrawingData* magDrawingData() const { return drawingDataForTrace(kMagnitudeTrace); }
    KOFFTDrawingData* phiDrawingData() const { return drawingDataForTrace(kPhaseTrace); }
    KOFFTDrawingData* cohDrawingData() const { return drawingDataForTrace(kCoherenceTrace); }

    // dB shift of the magnitude curve, clamped to [-96, 96] (NaN is 0).
    double offset() const;
    void setOffset(double offset);
    bool inverts() const;
    void setInverts(bool inverts);
    bool drawMagDetails() const;
    void setDrawMagDetails(bool draws);
    bool canDrawMagDetails() const { return drawModeTrace1() == 2; }
    bool drawMag() const { return drawTrace1(); }
    void setDrawMag(bool draws) { setDrawTrace1(draws); }
    bool drawPhi() const { return drawTrace2(); }
    void setDrawPhi(bool draws) { setDrawTrace2(draws); }
    bool drawCoh() const { return drawTrace3(); }
    void setDrawCoh(bool draws) { setDrawTrace3(draws); }

    // A copy of the results as they are now (under the model lock).
    virtual void copyTransferResult(KOTransferResults& destination);
    // The results themselves: hold the model lock while reading them.
    KOTransferResults* transferResults() const { return mResults.get(); }

    // Samples subtracted from the delay that is shown.
    qint64 delayOffset() const { return mDelayOffset.load(); }
    void setDelayOffset(qint64 offset);
    // The shared distance formatter's text of the value; typed text parsed by it.
    QString delayOffsetString();
    void setDelayOffsetString(const QString& text);
    QString sourceDelayString();
    void setSourceDelayString(const QString& text);

    // ---- what a live measurement overrides ----
    virtual bool isRealTime() const { return false; }
    virtual qint64 sourceChannel() const { return -1; }
    virtual void setSourceChannel(qint64) {}
    virtual qint64 responseChannel() const { return -1; }
    virtual void setResponseChannel(qint64) {}
    virtual qint64 sourceDelay() const { return 0; }
    virtual void setSourceDelay(qint64) {}
    virtual bool isResetable() const { return false; }
    virtual float averagingRate() const { return 0.0f; }
    virtual void setAveragingRate(float) {}
    virtual void setPaused(bool) {}
    virtual bool isPaused() const { return false; }
    virtual void resetAspec() {}
    void reset() override { resetAspec(); }
    // "Waiting for Signal" or "Recording" while a delay measurement runs, else "".
    virtual QString delayFinderStatus() const { return {}; }
    virtual bool canStartDelayFinder() const { return false; }

    // "f", "Mag", "Phi", "Coh".
    QStringList headers() const override;
    // Copies under the model lock: the magnitude in 10·log10 unless already in decibels, silence
    // and damage at the floor; phase and coherence as they are.
    bool prepareDataForExporting(KODataExporter& exporter) override;
    std::shared_ptr<koru::ValueFormatter> formatterForHeader(const QString& key) override;
    // "Hz" for "f", "dB" for "Mag", "rad" for "Phi", none for "Coh".
    std::optional<QString> unitForHeader(const QString& key) const override;

signals:
    void delayChanged();

protected:
    // Model lock held: takes results of the model's FFT size and binds the traces to them.
    void replaceResultsLocked(std::unique_ptr<KOTransferResults> results);

private:
    std::unique_ptr<KOTransferResults> mResults;
    std::atomic<qint64> mDelayOffset{0};
    koru::platform::ObserverToken mDistanceUnitObserver;
};

// The live measurement: owns a KOTransferAnalyzer registered with the audio device for the
// model's whole life and copies its results on the collector thread.
//
// It also measures the delay between its two channels: 2 s after it is made, and after every
// channel change while no measurement of the delay runs, a delay finder starts by itself (or at
// once on request). Its result joins the list of results (kept in sessions) and its delay becomes
// the analyser's total delay, unless the response leads the source or there is no peak: such a
// result is listed and reported, but the delay stays as it was.
class KORTTransferMeasWrapper : public KOTransferMeasurementWrapper,
                                public KODelayFinderMeasurement {
    Q_OBJECT
    Q_PROPERTY(
        qint64 sourceChannel READ sourceChannel WRITE setSourceChannel NOTIFY channelsChanged)
    Q_PROPERTY(
        qint64 responseChannel READ responseChannel WRITE setResponseChannel NOTIFY channelsChanged)
public:
    static constexpr const char* kClassName = "KORTTransferMeasWrapper";
    static constexpr const char* kSourceChannelKey = "sourceCh";
    static constexpr const char* kResponseChannelKey = "responseCh";
    static constexpr const char* kWindowTypeKey = "windowType";
    static constexpr const char* kAveragingRateKey = "avgRate";
    static constexpr const char* kTitleFormat = "Transfer %1";
    static constexpr const char* kAnalyzerIsNull = "transfer analyzer is NULL";
    static constexpr float kDefaultAveragingRate = 90.0f;
    static constexpr float kLowestAveragingRate = 80.0f;
    static constexpr float kHighestAveragingRate = 100.0f;
    static constexpr std::uint32_t kDefaultFFTSize = 32768;
    static constexpr std::chrono::milliseconds kDelayFinderStartDelay{2000};
    static constexpr std::uint32_t kDelayFinderFFTSize = 65536;
    static constexpr const char* kDelayFinderResultNameFormat = "%1 - %2";
    static constexpr const char* kNoDelayFoundFormat = "%1: no usable delay found";

    // Process-wide: whether new and re-patched measurements start their delay finder by
    // themselves after kDelayFinderStartDelay (the default). Tests that pump buffers switch it
    // off and start the finder when they choose.
    static void setDelayFinderStartsItself(bool starts);
    static bool delayFinderStartsItself();
    // Process-wide, main thread: where "delay finder finished" texts of measurements made from
    // now on go; empty restores the program's notification centre.
    static void setDelayFinderNotifier(std::function<void(const QString&)> notifier);

    // "Transfer <n>", n counting the live measurements made this way in this process.
    static std::unique_ptr<KORTTransferMeasWrapper> createWithFFTSize(std::uint32_t size);

    KORTTransferMeasWrapper();
    // The analyser leaves the engine before anything of it is freed.
    ~KORTTransferMeasWrapper() override;
    QString archiveClassName() const override { return QString::fromLatin1(kClassName); }

    void initWithFFTSize(std::uint32_t size);
    // Channels, window and averaging rate; an unusable rate becomes 90 % (logged).
    void initWithCoder(koru::platform::KeyedUnarchiver& coder) override;
    void encodeWithCoder(koru::platform::KeyedArchiver& coder) const override;

    void setFFTSize(std::uint32_t size) override;
    std::uint32_t FFTSize() const override;
    std::uint32_t windowType() const override;
    void setWindowType(std::uint32_t type) override;

    bool isRealTime() const override { return true; }
    bool isResetable() const override { return true; }
    // Channels outside 0..255 are clamped (logged); the analyser clamps to the engine's. With
    // the delegate's consent (a modifier key in the window) the other channel moves to the next.
    qint64 sourceChannel() const override;
    void setSourceChannel(qint64 channel) override;
    qint64 responseChannel() const override;
    void setResponseChannel(qint64 channel) override;
    // The analyser's delay minus the offset, 0 while a delay finder waits or records; setting
    // applies offset + d.
    qint64 sourceDelay() const override;
    void setSourceDelay(qint64 delay) override;
    qint64 delayOffset() const override { return KOTransferMeasurementWrapper::delayOffset(); }
    void setDelayOffset(qint64 offset) override {
        KOTransferMeasurementWrapper::setDelayOffset(offset);
    }
    // The offset becomes the current delay, so the shown delay reads 0.
    void setRefToDelayTime();
    // Percent, clamped to 80..100.
    float averagingRate() const override;
    void setAveragingRate(float percent) override;
    void setPaused(bool paused) override;
    bool isPaused() const override;
    bool pauseable() const override { return true; }
    void setPause(bool pause) override;
    void resetAspec() override;

    bool shouldCollect() override;
    void collect() override;
    // With phase always.
    void copyTransferResult(KOTransferResults& destination) override;
    // Brings the phase up to date first: a hidden phase trace is not copied by collect.
    bool prepareDataForExporting(KODataExporter& exporter) override;

    KOTransferAnalyzer* analyzer() const { return mAnalyzer.get(); }

    // ---- the delay finder (main thread) ----
    QString delayFinderTitle() const override { return title(); }
    KODelayFinderResults& delayFinderResults() override { return *mDelayFinderResults; }
    QString delayFinderStatus() const override;
    bool canStartDelayFinder() const override;
    // Starts a delay finder on the analyser's channels unless one runs (then the request and
    // its completion are dropped). The completion belongs to this run only.
    void computeDelayWithCompletionBlock(Completion completion) override;
    // What the start timer does when it fires.
    void invokeDelayFinderFromTimer();
    // (Re)arms the one-shot start timer, when measurements start their finder by themselves.
    void createADelayFinderInFuture();
    QTimer* delayFinderStartTimer() const { return mDelayFinderStartTimer.get(); }
    // Finished results whose delay was not applied (a leading response, no peak).
    int refusedDelayResults() const { return mRefusedDelayResults; }

signals:
    void channelsChanged();

private:
    void setupAnalyzer();
    static qint64 clampedChannel(qint64 channel);
    // Main thread: names, keeps and applies a finished result; answers the notification text.
    QString delayComputation(const std::shared_ptr<KODelayFinderData>& data);
    // After a channel change: a running finder follows, else the start timer is re-armed.
    void channelsChangedForDelayFinder();

    std::unique_ptr<QTimer> mDelayFinderStartTimer;
    std::unique_ptr<KOTransferAnalyzer> mAnalyzer;
    koru::platform::ObserverToken mAudioPropertiesObserver;
    // Main thread only, except the run, whose collect runs on the collector thread.
    std::unique_ptr<KODelayFinderResults> mDelayFinderResults;
    std::unique_ptr<KODelayFinderRun> mDelayFinderRun;
    Completion mDelayCalcCompletion;
    int mRefusedDelayResults = 0;
};
