#pragma once

#include "engine/KOAuxGenerator.h"
#include "engine/SignalSynthesis.h"

#include <memory>

// The signal generator input: its test signal reaches the engine on two identical channels and
// is heard on the speakers at the output volume, which starts at 0. The signal renders at the
// engine's rate, so frequencies and their Nyquist limit are the engine's.
//
// Setters run on the main thread while the output's thread renders; see SignalSynthesis.
class KOAuxInSignalGenerator : public KOAuxGenerator {
public:
    // `output` plays the signal; null takes the default output unit. Throws CAException when
    // the output refuses the format.
    explicit KOAuxInSignalGenerator(
        std::unique_ptr<koru::platform::AudioUnitInstance> output = nullptr);

    QString Name(int channel) const override;

    void SetFrequency(float frequency) { mSynthesis->setFrequency(frequency); }
    float Frequency() const { return mSynthesis->frequency(); }
    void SetAmplitude(float amplitude) { mSynthesis->setAmplitude(amplitude); }
    float Amplitude() const { return mSynthesis->amplitude(); }
    void SetSignalType(std::int32_t type) { mSynthesis->setSignalType(type); }
    std::int32_t SignalType() const { return mSynthesis->signalType(); }
    void SetSweepBounds(float a, float b) { mSynthesis->setSweepBounds(a, b); }
    float SweepLow() const { return mSynthesis->sweepLow(); }
    float SweepHigh() const { return mSynthesis->sweepHigh(); }
    void SetSweepSpeed(float speed) { mSynthesis->setSweepSpeed(speed); }
    float SweepSpeed() const { return mSynthesis->sweepSpeed(); }
    void SetMute(bool mute) { mSynthesis->setMute(mute); }
    bool Mute() const { return mSynthesis->mute(); }
    // The rate the signal is made at, which sets the Nyquist limits (the base's engine rate
    // once the engine has told it).
    double SampleRate() const { return mSynthesis->sampleRate(); }

    koru::SignalSynthesis& Synthesis() { return *mSynthesis; }

private:
    koru::SignalSynthesis* mSynthesis; // the base's source
};
