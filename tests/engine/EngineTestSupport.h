#pragma once

#include "engine/AudioSource.h"
#include "engine/KOAuxGenerator.h"
#include "platform/audio/AudioTypes.h"
#include "platform/audio/AudioUnitInstance.h"

#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <numbers>
#include <string>
#include <vector>

namespace koru::test {

// Owns the storage behind an engine-style buffer list: one float buffer per channel.
class BufferListStorage {
public:
    BufferListStorage(std::uint32_t channels, std::uint32_t frames)
        : mSamples(channels, std::vector<float>(frames, 0.0f)), mEntries(channels) {
        for (std::uint32_t c = 0; c < channels; ++c) {
            mEntries[c].mNumberChannels = 1;
            mEntries[c].mDataByteSize = frames * 4;
            mEntries[c].mData = mSamples[c].data();
        }
        mList.mNumberBuffers = channels;
        mList.mBuffers = mEntries.data();
    }
    AudioBufferList* list() { return &mList; }
    std::vector<float>& channel(std::uint32_t c) { return mSamples[c]; }
    AudioBuffer& entry(std::uint32_t c) { return mEntries[c]; }
    std::uint32_t channelCount() const { return std::uint32_t(mSamples.size()); }
    void fill(std::uint32_t c, float value) { mSamples[c].assign(mSamples[c].size(), value); }

private:
    std::vector<std::vector<float>> mSamples;
    std::vector<AudioBuffer> mEntries;
    AudioBufferList mList;
};

// The generator base with the one thing each kind of generator adds: its channel names.
class TestGenerator : public KOAuxGenerator {
public:
    using KOAuxGenerator::KOAuxGenerator;
    QString Name(int channel) const override { return QStringLiteral("Tone %1").arg(channel); }
};

// A sine of `frequency` on both channels at whatever rate the generator asks for.
class SineSource : public koru::AudioSource {
public:
    explicit SineSource(double frequency) : mFrequency(frequency) {}
    void setSampleRate(double rate) override { mRate = rate; }
    void render(float* const* channels, std::uint32_t frames) noexcept override {
        for (std::uint32_t i = 0; i < frames; ++i, ++mFrame) {
            const double phase = 2.0 * std::numbers::pi * mFrequency * double(mFrame) / mRate;
            channels[0][i] = channels[1][i] = float(std::sin(phase));
        }
    }

private:
    double mFrequency;
    double mRate = 48000.0;
    std::uint64_t mFrame = 0;
};

// The frequency of a sampled sine from the distance between its first and last sign change.
inline double frequencyOf(const std::vector<float>& x, double rate) {
    int crossings = 0;
    std::size_t first = 0;
    std::size_t last = 0;
    for (std::size_t i = 1; i < x.size(); ++i) {
        if ((x[i - 1] < 0.0f) != (x[i] < 0.0f)) {
            first = crossings == 0 ? i : first;
            last = i;
            ++crossings;
        }
    }
    return crossings < 2 ? 0.0 : (crossings - 1) / 2.0 * rate / double(last - first);
}

// An output unit pulled by the test: pull() runs the render callback like the device's thread
// would, then applies the volume, as the default output unit does. It may refuse to start.
class ManualOutput : public koru::platform::AudioUnitInstance {
public:
    ManualOutput(double rate, bool followsRequests) : mRate(rate), mFollows(followsRequests) {}

    OSStatus getProperty(AudioUnitPropertyID id, AudioUnitScope, AudioUnitElement, void* data,
                         std::uint32_t* size) override {
        if (id == kAudioDevicePropertyNominalSampleRate) {
            return answer(mRate, data, size);
        }
        return kAudioUnitErr_InvalidProperty;
    }
    OSStatus setProperty(AudioUnitPropertyID id, AudioUnitScope, AudioUnitElement, const void* data,
                         std::uint32_t size) override {
        switch (id) {
        case kAudioDevicePropertyNominalSampleRate: {
            double rate = 0;
            if (!read(data, size, rate)) {
                return kAudioUnitErr_InvalidPropertyValue;
            }
            if (!mFollows) {
                return kAudioDeviceUnsupportedFormatError;
            }
            mRate = rate;
            return noErr;
        }
        case kAudioUnitProperty_SetRenderCallback:
            return read(data, size, mCallback) ? noErr : kAudioUnitErr_InvalidPropertyValue;
        case kAudioUnitProperty_StreamFormat:
        case kAudioDevicePropertyBufferFrameSize:
            return noErr;
        default:
            return kAudioUnitErr_InvalidProperty;
        }
    }
    OSStatus setParameter(AudioUnitParameterID id, AudioUnitScope, AudioUnitElement,
                          float value) override {
        if (id != kHALOutputParam_Volume) {
            return kAudioUnitErr_InvalidParameter;
        }
        mVolume = value;
        return noErr;
    }
    OSStatus getParameter(AudioUnitParameterID id, AudioUnitScope, AudioUnitElement,
                          float* value) override {
        if (id != kHALOutputParam_Volume) {
            return kAudioUnitErr_InvalidParameter;
        }
        *value = mVolume;
        return noErr;
    }
    OSStatus start() override {
        if (mRefuseStart != noErr) {
            return mRefuseStart;
        }
        mRunning = true;
        return noErr;
    }
    OSStatus stop() override {
        mRunning = false;
        return noErr;
    }
    std::string failureReason() const override { return mRefuseStart != noErr ? mCause : ""; }

    // From now on start() fails with `status`, the unit saying `cause`.
    void refuseStart(OSStatus status, std::string cause) {
        mRefuseStart = status;
        mCause = std::move(cause);
    }

    // What the speakers got.
    BufferListStorage& pull(std::uint32_t frames = 1024) {
        mPlayed = std::make_unique<BufferListStorage>(2, frames);
        if (mRunning && mCallback.inputProc) {
            AudioUnitRenderActionFlags flags = 0;
            AudioTimeStamp time;
            mCallback.inputProc(mCallback.inputProcRefCon, &flags, &time, 0, frames,
                                mPlayed->list());
        }
        for (std::uint32_t c = 0; c < 2; ++c) {
            for (float& v : mPlayed->channel(c)) {
                v *= mVolume;
            }
        }
        return *mPlayed;
    }
    bool running() const { return mRunning; }

private:
    double mRate;
    bool mFollows;
    AURenderCallbackStruct mCallback{};
    float mVolume = 1.0f;
    bool mRunning = false;
    OSStatus mRefuseStart = noErr;
    std::string mCause;
    std::unique_ptr<BufferListStorage> mPlayed;
};

// Where a thread stops until the test opens it; the test can wait until someone has arrived.
// The waits have a generous deadline as a safety net only.
class Gate {
public:
    void arriveAndWait() {
        std::unique_lock lock(mMutex);
        ++mArrived;
        mChanged.notify_all();
        mChanged.wait(lock, [&] { return mOpen; });
    }
    bool waitForArrivals(int count) {
        std::unique_lock lock(mMutex);
        return mChanged.wait_for(lock, std::chrono::seconds(20), [&] { return mArrived >= count; });
    }
    void open() {
        std::lock_guard lock(mMutex);
        mOpen = true;
        mChanged.notify_all();
    }
    int arrived() const {
        std::lock_guard lock(mMutex);
        return mArrived;
    }

private:
    mutable std::mutex mMutex;
    std::condition_variable mChanged;
    int mArrived = 0;
    bool mOpen = false;
};

} // namespace koru::test
