#pragma once

#include "KOADOwner.h"
#include "KOAuxInput.h"
#include "KOAuxInputException.h"
#include "KOAuxSummingChannel.h"
#include "MainThreadWakeUp.h"
#include "SampleTimeRing.h"

#include "zotools/ZOAudioInput.h"

#include <QString>

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

// The application's audio engine. Buffer layout: hardware channels 0 … H − 1, then every
// auxiliary input's channels in list order, then every summing channel's two in list order; at
// most kMaxChannels in all. Per buffer it renders the auxiliary and summing channels, keeps the
// newest samples in a ring, meters every channel (RMS over a sliding window, a decaying peak of
// the largest magnitude), runs the clients, converts the meters to decibels and calls the
// data-ready hook.
//
// Threads: the audio pass holds the engine mutex for its whole length (ZOAudioInput::InputProc),
// so list edits, which take it, never race a running Render or Process. Edits, property changes
// and reconfigurations run on the main thread. Lock order: engine mutex, then level lock; engine
// mutex, then an instrument mutex or a generator's ring mutex.
class KOAD : public ZOAudioInput {
public:
    static constexpr std::uint32_t kMaxChannels = 256;
    static constexpr float kFloorDecibels = -144.0f;
    static constexpr std::uint32_t kRMSWindowReserve = 1024;

    struct Levels {
        float rms = 0.0f;
        float peak = 0.0f;
    };
    struct MeterConstants {
        double sampleRate = 0.0; // what the meters assume: below 8000 Hz, 44100 Hz
        float peakDecay = 0.0f;  // per buffer: 11.74 dB per second
        float rmsFactor = 0.0f;  // applied at the decibel conversion
        std::uint32_t capacity = 0;
        std::uint32_t rmsWindow = 0;
    };
    using DataReadyHook = void (*)();

    static MeterConstants ComputeMeterConstants(double nominalRate, std::uint32_t bufferFrames);
    // 20·log10(linear) above the floor, the floor for silence, NaN and anything below it.
    static float ToDecibels(float linear);

    // Throws CAException when the buffers cannot be set up.
    KOAD(AudioDeviceID deviceID, std::uint32_t requestedFrames);
    ~KOAD() override;

    void SetOwner(KOADOwner* owner) { mOwner.store(owner); }
    // Called on the audio thread after every buffer; null restores the empty hook.
    void SetDataReadyHook(DataReadyHook hook);

    std::uint32_t TotalNumberOfChannels() const;
    std::uint32_t NumberOfNativeAndAuxChannels() const;
    std::uint32_t NumberOfSummingChannels() const { return mSummingChannels.load(); }
    std::uint32_t NumberOfAuxChannels() const { return mAuxChannels.load(); }
    KOAuxSummingChannel* SummingChannelAt(std::uint32_t index) const;

    // {RMS dB, peak dB} of slot channel mod kMaxChannels.
    Levels GetLevels(std::uint32_t channel) const;
    const MeterConstants& Constants() const { return mConstants; }

    void EnterSafeMode() { mSafeMode.fetch_add(1); }
    void LeaveSafeMode();
    bool InSafeMode() const { return mSafeMode.load() != 0; }
    void ThrowIfSafeMode() const;

    // List edits: main thread; each throws CAException('sfmd') in safe mode and then changes
    // nothing. Additions that would take the engine past kMaxChannels are refused with a log
    // line and answer false.
    // An auxiliary input is started before it is attached: when it cannot start, AddAuxInput
    // throws KOAuxInputException naming the cause, and nothing is attached, the layout and the
    // clients' channels stay as they were.
    bool AddAuxInput(KOAuxInput* aux);
    void RemoveAuxInput(KOAuxInput* aux);
    bool AddSummingChannel(std::unique_ptr<KOAuxSummingChannel> channel);
    bool AddSummingChannels(std::vector<std::unique_ptr<KOAuxSummingChannel>> channels);
    void RemoveSummingChannel(std::uint32_t index);
    void RemoveAllSummingChannels();

    // Tells every client, in list order; whatever a client throws is swallowed.
    void ChannelsChanged(std::uint32_t position, std::int32_t delta);
    // The input channel map; more than kMaxChannels entries are cut with a log line.
    void SetChannelMap(const std::int32_t* map, std::uint32_t count);
    QString ChannelName(std::uint32_t index) const;

    // Main thread, after an error reported through the owner has been dealt with.
    void ErrorHandled() { mErrorPending.store(false); }
    // Main thread: logs the passes skipped since the last report in one line; answers how many.
    // Runs by itself soon after a skip when the engine was built on a running application's
    // main thread.
    std::uint64_t ReportSkippedBlocks();

    void PropertyChanged(AudioUnitPropertyID id, AudioUnitScope scope,
                         AudioUnitElement element) override;
    void SetupBuffers(std::uint32_t extraChannels) override;
    void AfterProcess() override;
    void Process(const AudioTimeStamp* time, std::uint32_t bus, std::uint32_t frames) override;
    void ErrorHandler(std::uint64_t code) override;
    void BlockSkipped() noexcept override;

private:
    static void NoHook() {}
    void RenderAuxiliary(std::uint32_t frames);
    void UpdateMeters(std::uint32_t frames);
    void NotifyOwner();
    void StartDetached(KOAuxInput& aux);
    void TellAuxiliaryInputsTheRate();
    bool Fits(std::uint32_t moreChannels) const;
    std::vector<std::int32_t> ChannelMap() const;
    QString DeviceChannelName(std::uint32_t index) const;

    std::atomic<KOADOwner*> mOwner{nullptr};
    std::atomic<DataReadyHook> mDataReadyHook{&KOAD::NoHook};

    // Guarded by the engine mutex; written on the main thread only.
    std::vector<KOAuxInput*> mAuxInputs;                                   // not owned
    std::vector<std::unique_ptr<KOAuxSummingChannel>> mSummingChannelList; // owned
    std::atomic<std::uint32_t> mAuxChannels{0};
    std::atomic<std::uint32_t> mSummingChannels{0};

    MeterConstants mConstants;
    std::array<Levels, kMaxChannels> mLinear{}; // engine mutex
    mutable std::mutex mLevelLock;              // guards mDecibels
    std::array<Levels, kMaxChannels> mDecibels;
    std::uint32_t mNotifiedHardwareChannels = 0;

    std::unique_ptr<koru::SampleTimeRing> mRing; // engine mutex
    std::uint32_t mRingChannels = 0;
    std::vector<float> mFetchBuffer; // one channel's RMS window at a time
    std::int64_t mRingSampleTime = 0;

    std::atomic<std::uint32_t> mSafeMode{0};
    std::atomic<bool> mErrorPending{false};

    std::uint64_t mReportedSkips = 0; // main thread
    // Only with a main loop to run it; set before any pass, read by the audio thread.
    std::unique_ptr<koru::MainThreadWakeUp> mSkipWakeUp;
};
