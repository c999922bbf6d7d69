#pragma once

#include "engine/KOTwoChannelInstrument.h"

#include <atomic>
#include <cstdint>
#include <vector>

// Captures channels A and B from a rising crossing of the trigger level on one of them:
// armed → triggered (capturing over as many buffers as needed) → complete (held) → armed again
// when the collector takes a snapshot.
//
// The audio thread owns the capture while the instrument is armed or triggered and the
// collector owns it while it is complete; the hand-over is the complete flag (release/acquire),
// so neither side waits. Trigger level and channel are relaxed atomics.
//
// The trigger is strict (x[k−1] < level < x[k]), with samples exactly at the level stepped
// over: a signal rising through the level (below, at, above) triggers at its first sample above
// it, as a generated sine whose zero falls on a sample must; one that only touches the level
// (below, at, below) does not. The sample before a buffer is the last one of the previous buffer
// off the level, so a crossing between two buffers is found.
class KOOscilloscopeInstrument : public KOTwoChannelInstrument {
public:
    static constexpr std::uint32_t kCapacity = 65536;
    static constexpr std::uint32_t kMinLength = 10;
    static constexpr std::uint32_t kDefaultLength = 1024;

    KOOscilloscopeInstrument();
    ~KOOscilloscopeInstrument() override;

    void Process(const AudioBufferList* buffers, std::uint32_t frames) override;
    bool IsPauseable() const override { return true; }

    float TriggerLevel() const { return mTriggerLevel.load(std::memory_order_relaxed); }
    void SetTriggerLevel(float level) { mTriggerLevel.store(level, std::memory_order_relaxed); }
    // 0 for channel A, 1 for channel B.
    std::uint32_t TriggerChannel() const { return mTriggerChannel.load(std::memory_order_relaxed); }
    void SetTriggerChannel(std::uint32_t channel) {
        mTriggerChannel.store(channel == 0 ? 0 : 1, std::memory_order_relaxed);
    }

    std::uint32_t CaptureLength() const { return mLength; }
    // Before the instrument is registered with an engine only; later lengths go through
    // TakeSnapshot.
    void SetInitialCaptureLength(std::uint32_t length) { mLength = ClampLength(length); }
    bool IsComplete() const { return mComplete.load(std::memory_order_acquire); }

    // Collector thread. When a capture is complete it becomes the held snapshot and the
    // instrument re-arms with `nextLength` samples (clamped to 10..65536); otherwise the last
    // snapshot is shown again. viewA/viewB (either may be null) of `count` values get the
    // snapshot linearly resampled so that it spans them end to end. Answers whether a fresh
    // capture was taken. Views of a snapshot never read outside it.
    bool TakeSnapshot(float* viewA, float* viewB, std::uint32_t count, std::uint32_t nextLength);

    // The held snapshot (collector thread).
    const std::vector<float>& SnapshotA() const { return mSnapshotA; }
    const std::vector<float>& SnapshotB() const { return mSnapshotB; }

    static std::uint32_t ClampLength(std::uint32_t length);
    // view[n] = snapshot at position n·(M − 1)/(N − 1), linearly interpolated.
    static void Resample(const std::vector<float>& snapshot, float* view, std::uint32_t count);

private:
    std::vector<float> mCaptureA;
    std::vector<float> mCaptureB;
    std::vector<float> mSnapshotA; // collector
    std::vector<float> mSnapshotB;
    std::uint32_t mLength = kDefaultLength; // written by the collector only while complete
    std::uint32_t mWrite = 0;               // audio thread
    bool mTriggered = false;                // audio thread
    bool mHavePrevious = false;             // audio thread
    float mPrevious = 0.0f; // audio thread: the trigger channel's last sample off the level
    std::atomic<bool> mComplete{false};
    std::atomic<float> mTriggerLevel{0.0f};
    std::atomic<std::uint32_t> mTriggerChannel{0};
};
