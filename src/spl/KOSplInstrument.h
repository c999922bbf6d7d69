#pragma once

#include "engine/KOSpectrumAnalyzer.h"
#include "spl/KOWeightingBuffer.h"

#include <atomic>
#include <cstdint>
#include <memory>

// The signal processing of one SPL meter: a Hann-windowed power spectrum of one channel every
// N/8 frames, turned into a frequency-weighted level on request. The level is the power mean of
// the weighted bins below Nyquist, 10·log10(Σ P·W / (N/2)) with P = |X|²·2/N; with the unit-RMS
// Hann window that is the signal's mean square + 9.03 dB (a full-scale sine reads +6.02 dB). It
// carries no reference pressure: the meter's calibration offset turns it into a sound-pressure
// level.
//
// 'slow' and 'fast' are window lengths, not exponential time weightings: N follows the speed
// and the sample rate so that a window always spans about 1.5 s or 0.19 s.
//
// Threads: Process on the audio thread; GetLevel on the collector (and calibration on main);
// SetSpeed, SetWeighting, SampleRateChanged on main; SetHost from the engine's reconfiguration.
// The audio thread only computes spectra, which the analyser passes out without waiting; the
// weighting table belongs to the readers' side, under the instrument mutex, so building or
// refilling it never holds up a block. Size and table are rebuilt together on every speed or
// rate change, and a spectrum is never weighted with a table of another size: until the new
// table is in, GetLevel answers the previous level. Lock order: engine mutex (SetHost runs under
// it), the analyser's rebuild mutex, the instrument mutex.
class KOSplInstrument : public KOSpectrumAnalyzer {
public:
    // Above 100 kHz 'slow' needs 262144 points to keep its span.
    static constexpr std::uint32_t kMaximumSplFFTSize = 262144;

    // initialSize is used when it is a size the instrument accepts (a power of two from 8192 to
    // 262144); otherwise the speed's size at sampleRate. SetSpeed then applies the host's rate.
    KOSplInstrument(std::uint32_t initialSize, std::uint32_t speed, std::uint32_t weighting,
                    double sampleRate);
    ~KOSplInstrument() override;

    // 'slow': 65536, 131072 or 262144 points up to 50 kHz, 100 kHz and above; anything else
    // counts as 'fast': 8192, 16384 or 32768.
    static std::uint32_t FFTSizeFor(std::uint32_t speed, double sampleRate);

    void SetHost(ZOAudioInput* host) override;

    // Takes the host's rate (44100 Hz without one) and rebuilds size and table for it.
    void SetSpeed(std::uint32_t speed);
    std::uint32_t Speed() const { return mSpeed.load(std::memory_order_relaxed); }
    void SetWeighting(std::uint32_t type);
    std::uint32_t Weighting();
    // The device's rate changed: size and table follow it together.
    void SampleRateChanged(double rate);
    double SampleRate() const { return mSampleRate.load(std::memory_order_relaxed); }

    // The weighted level of the newest spectrum in dB, minus infinity for silence. Without a new
    // spectrum since the last call it answers the previous level at once.
    float GetLevel();

private:
    void Configure(std::uint32_t speed, double rate);

    std::unique_ptr<KOWeightingBuffer> mWeightingTable; // instrument mutex
    std::uint32_t mWeighting = 0;                       // instrument mutex
    std::atomic<std::uint32_t> mSpeed{0};
    std::atomic<double> mSampleRate{0.0};
    std::atomic<float> mLevel{0.0f};
};
