#pragma once

#include "AudioSource.h"
#include "KOAuxInput.h"
#include "SampleTimeRing.h"
#include "Varispeed.h"

#include "platform/audio/AudioUnitInstance.h"
#include "zotools/ZOAudioUnit.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

// An auxiliary input whose audio comes from a source played on an output device: the output's
// render callback (the tee) renders the source and stores every frame in a ring before the
// output applies its volume, and the engine's Render reads the ring on the input thread. The
// two devices run on their own clocks; the read position resynchronises to 1024 frames behind
// the writer whenever it falls out of the ring.
//
// The source renders at the engine's rate. The output device is asked for that rate too; one
// that keeps its own gets a rate converter on the speaker path only, so the ring and the engine
// always hold engine-rate audio.
//
// A buffer the ring cannot fill (nothing written yet, the output stopped or failed, the writer
// holding the ring) reaches the engine as silence, never as the previous buffer again, and is
// counted. The output's failures are the generator's own: they never stop the engine's input.
//
// Threads: construction, Start, SetEngineSampleRate, SetVolume and destruction on the main
// thread; the tee on the output's thread; Render on the engine's thread. The ring mutex guards
// the ring and both positions and is held only for one store or one fetch.
class KOAuxGenerator : public KOAuxInput {
public:
    static constexpr std::uint32_t kChannels = 2;
    static constexpr std::uint32_t kRingFrames = 65536;
    static constexpr std::uint32_t kBufferFrames = 1024;
    static constexpr std::int64_t kResyncDistance = 1024;
    static constexpr std::int64_t kInitialWritePosition = 4096;

    // `output` plays the source; null takes the default output unit. Throws CAException when
    // the output refuses the format.
    explicit KOAuxGenerator(std::unique_ptr<koru::AudioSource> source,
                            std::unique_ptr<koru::platform::AudioUnitInstance> output = nullptr);
    ~KOAuxGenerator() override;

    std::uint32_t NumberOfChannels() const override { return kChannels; }
    // Starts the output with both positions at 0. Throws KOAuxInputException naming the cause
    // when the output cannot start.
    void Start() override;
    void Render(AudioBufferList* buffers, std::uint32_t first, std::uint32_t frames) override;
    void SetEngineSampleRate(double rate) override;

    // The output's volume: what the speakers get, not what the engine receives.
    void SetVolume(float gain);
    float Volume() const;

    koru::AudioSource& Source() { return *mSource; }
    ZOAudioUnit& OutputUnit() { return *mOutput; }
    double SampleRate() const { return mEngineRate; }       // the source's rate
    double OutputSampleRate() const { return mOutputRate; } // the speakers' rate
    bool IsConverting() const { return mVarispeed != nullptr; }
    std::int64_t ReadPosition() const;
    std::int64_t WritePosition() const;
    // Buffers handed to the engine as silence because the ring had nothing for them.
    std::uint64_t StarvedBuffers() const { return mStarved.load(std::memory_order_relaxed); }
    // Whether the output plays: started, and not failed since.
    bool OutputRunning() const;

private:
    static OSStatus Tee(void* self, AudioUnitRenderActionFlags* flags, const AudioTimeStamp* time,
                        std::uint32_t bus, std::uint32_t frames, AudioBufferList* data);
    static void PullSource(void* self, float* const* channels, std::uint32_t frames);
    void RenderAndStore(float* const* channels, std::uint32_t frames);
    double ReadOutputRate() const;
    void StopOutput();
    void StartOutput();
    void Starve(AudioBufferList* buffers, std::uint32_t first, std::uint32_t frames) noexcept;

    std::unique_ptr<koru::AudioSource> mSource;
    std::unique_ptr<koru::platform::AudioUnitInstance> mOutputInstance;
    std::unique_ptr<ZOAudioUnit> mOutput; // wraps mOutputInstance
    std::unique_ptr<koru::Varispeed> mVarispeed;
    std::vector<float> mSpare; // stands in for channels the output's list lacks

    mutable std::mutex mRingMutex; // guards mRing and both positions
    koru::SampleTimeRing mRing;
    std::int64_t mWritePosition = kInitialWritePosition;
    std::int64_t mReadPosition = 0;

    double mEngineRate = 0.0;
    double mOutputRate = 0.0;
    bool mRunning = false;
    std::atomic<std::uint64_t> mStarved{0};
};
