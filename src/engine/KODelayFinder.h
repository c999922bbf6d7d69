#pragma once

#include "engine/KOTwoChannelInstrument.h"

#include <atomic>
#include <cstdint>
#include <memory>

class KOComplexBuffer;
class KOFFTBox;
class KOFloatBuffer;

// Measures the delay between a source and a response channel once: it waits until both carry
// signal, records one frame of each from that buffer on, and on request turns the frame pair into
// an impulse response (the inverse of H = Gab / Gaa) whose largest magnitude sits at the delay.
//
// Process only copies samples (audio thread, no lock, no allocation); everything spectral runs in
// ComputeDelay on the thread that asks, once the frame pair is complete. A finder measures once:
// a new measurement needs a new finder.
class KODelayFinder : public KOTwoChannelInstrument {
public:
    enum State : std::uint32_t {
        Waiting = 0,   // buffers are dropped until both channels carry signal
        Recording = 1, // buffers go into the frame pair
        Complete = 2,  // the frame pair is whole; buffers are dropped
        Computing = 3,
        Done = 4, // the impulse response exists
    };

    static constexpr std::uint32_t kDefaultFFTSize = 65536;
    // Both channels' largest sample in one buffer must exceed this to start the recording.
    static constexpr float kTriggerLevel = 0.05f;

    // fftSize: a power of two of at least 2 (std::invalid_argument otherwise).
    explicit KODelayFinder(std::uint32_t fftSize = kDefaultFFTSize);
    ~KODelayFinder() override;

    void Process(const AudioBufferList* buffers, std::uint32_t frames) override;
    bool IsPauseable() const override { return true; }

    std::uint32_t SourceChannel() const { return ChannelA(); }
    std::uint32_t ResponseChannel() const { return ChannelB(); }
    void SetSourceChannel(std::uint32_t ch) { SetChannelA(ch); }
    void SetResponseChannel(std::uint32_t ch) { SetChannelB(ch); }

    std::uint32_t FFTSize() const { return mSize; }
    State GetState() const { return State(mState.load(std::memory_order_acquire)); }

    // Computes the impulse response and returns the index of its largest magnitude (the first on
    // ties), 0..N-1; a response leading the source peaks near N. Only in state Complete: in any
    // other state it returns 0 and changes nothing. Not on the audio thread (it allocates).
    std::uint32_t ComputeDelay();
    // The impulse response of N samples, computed first when the frame pair is complete; null
    // before that. The finder keeps it; callers copy the samples.
    const KOFloatBuffer* ImpulseResponse();

private:
    void Record(const float* source, const float* response, std::uint32_t frames);

    const std::uint32_t mSize;
    std::unique_ptr<KOFFTBox> mBox;
    // The frame pair: written by the audio thread while recording, read by ComputeDelay once
    // the state says Complete (release/acquire on mState orders the two).
    std::unique_ptr<KOFloatBuffer> mSourceFrame;
    std::unique_ptr<KOFloatBuffer> mResponseFrame;
    std::uint32_t mRecorded = 0; // audio thread only
    std::unique_ptr<KOFloatBuffer> mImpulseResponse;
    std::atomic<std::uint32_t> mState{Waiting};
};
