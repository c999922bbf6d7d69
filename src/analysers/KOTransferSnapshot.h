#pragma once

#include "analysers/KOTransferMeasurementWrapper.h"

#include <QList>

#include <cstdint>
#include <memory>

class KORTTransferMeasWrapper;

// A frozen transfer measurement: its magnitude is stored in decibels (flag set), phase in
// radians, coherence 0..1, laid out for the sample rate "sr". When the engine's rate changes the
// stored values are stretched so each stays at its frequency.
class KOTransferSnapshot : public KOTransferMeasurementWrapper {
    Q_OBJECT
public:
    static constexpr const char* kClassName = "KOTransferSnapshot";
    static constexpr const char* kSampleRateKey = "sr";
    static constexpr const char* kDelayKey = "delay";
    static constexpr const char* kResultsKey = "transRes";
    static constexpr const char* kTitleFormat = "Snapshot of %1";

    static std::unique_ptr<KOTransferSnapshot> createWithRealtime(KORTTransferMeasWrapper& model);

    KOTransferSnapshot();
    ~KOTransferSnapshot() override;
    QString archiveClassName() const override { return QString::fromLatin1(kClassName); }

    void initWithName(const QString& title, std::uint32_t fftSize) override;
    using KOTransferMeasurementWrapper::initWithName;
    // Titled "Snapshot of <title>": the model's results with phase, magnitude in decibels, its
    // shown delay, its traces' settings and a fresh magnitude colour.
    void initWithRealtime(KORTTransferMeasWrapper& model);
    // A missing or damaged "transRes" restores zeroed buffers of the FFT size (logged); an
    // unusable "sr" becomes the engine's rate.
    void initWithCoder(koru::platform::KeyedUnarchiver& coder) override;
    void encodeWithCoder(koru::platform::KeyedArchiver& coder) const override;

    // Main thread: the engine's rate changed.
    void sampleRateChanged(double newRate);
    double sampleRate() const { return mSampleRate.load(); }
    qint64 sourceDelay() const override { return mSourceDelay - delayOffset(); }

    // Nothing to collect, but a window showing only fixed measurements still redraws.
    bool shouldCollect() override { return true; }

protected:
    // Results of the model's FFT size, magnitude in decibels.
    void setResults(std::unique_ptr<KOTransferResults> results);

private:
    std::atomic<double> mSampleRate{0.0};
    qint64 mSourceDelay = 0;
    koru::platform::ObserverToken mRateObserver;
};

// The running mean of every measurement pushed into it: magnitude in decibels, phase in
// radians (not unwrapped) and coherence, each averaged with equal weight.
class KOTransferAccu : public KOTransferSnapshot {
    Q_OBJECT
public:
    static constexpr const char* kClassName = "KOTransferAccu";
    static constexpr const char* kCountKey = "numSN";
    static constexpr const char* kTitle = "Accu";

    static std::unique_ptr<KOTransferAccu> createWithFFTSize(std::uint32_t size);

    QString archiveClassName() const override { return QString::fromLatin1(kClassName); }
    void initWithFFTSize(std::uint32_t size);
    void initWithCoder(koru::platform::KeyedUnarchiver& coder) override;
    void encodeWithCoder(koru::platform::KeyedArchiver& coder) const override;

    // Ignores the accumulator itself. Grows to the larger FFT size; a smaller measurement is
    // resampled up to the accumulator's.
    void pushToAccu(KOTransferMeasurementWrapper& measurement);
    std::uint32_t count() const { return mCount.load(); }

    qint64 sourceDelay() const override { return 0; }
    bool isResetable() const override { return true; }
    void resetAspec() override;

private:
    std::atomic<std::uint32_t> mCount{0};
};

// An accumulator filled once, at creation, from a set of measurements.
class KOTransferAverage : public KOTransferAccu {
    Q_OBJECT
public:
    static constexpr const char* kClassName = "KOTransferAverage";

    static std::unique_ptr<KOTransferAverage>
    createWithMeasurements(const QString& title, std::uint32_t size,
                           const QList<KOTransferMeasurementWrapper*>& measurements);

    QString archiveClassName() const override { return QString::fromLatin1(kClassName); }
    bool isResetable() const override { return false; }
    void resetAspec() override {}
};

// One measurement minus another: magnitudes in decibels subtracted, phases subtracted,
// coherence the mean of both. Measurements of two FFT sizes are compared at the larger one.
class KOTransferDifference : public KOTransferSnapshot {
    Q_OBJECT
public:
    static constexpr const char* kClassName = "KOTransferDifference";
    static constexpr const char* kTitleFormat = "Difference %1";

    static std::unique_ptr<KOTransferDifference>
    createWithMeasurements(KOTransferMeasurementWrapper& first,
                           KOTransferMeasurementWrapper& second);

    QString archiveClassName() const override { return QString::fromLatin1(kClassName); }
};
