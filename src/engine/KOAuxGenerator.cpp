#include "KOAuxGenerator.h"

#include "KOAuxInputException.h"
#include "platform/audio/AudioOutputUnit.h"
#include "platform/audio/DeviceRegistry.h"

#include <fmt/format.h>

#include <algorithm>
#include <span>

#if defined(__x86_64__) || defined(__SSE__)
#include <xmmintrin.h>
#endif

namespace {

// Both holders of the ring mutex are audio threads copying a few thousand samples; spin
// briefly rather than sleep, and give the buffer up if that is not enough.
bool lockBriefly(std::mutex& mutex) {
    constexpr int kAttempts = 4096;
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
        if (mutex.try_lock()) {
            return true;
        }
#if defined(__x86_64__) || defined(__SSE__)
        _mm_pause();
#endif
    }
    return false;
}

std::uint32_t samplesIn(const AudioBuffer& buffer) {
    return buffer.mData ? buffer.mDataByteSize / std::uint32_t(sizeof(float)) : 0;
}

} // namespace

KOAuxGenerator::KOAuxGenerator(std::unique_ptr<koru::AudioSource> source,
                               std::unique_ptr<koru::platform::AudioUnitInstance> output)
    : mSource(std::move(source)), mOutputInstance(std::move(output)),
      mSpare(kBufferFrames * 8, 0.0f), mRing(kChannels, kRingFrames) {
    if (!mOutputInstance) {
        mOutputInstance = std::make_unique<koru::platform::AudioOutputUnit>(
            koru::platform::DeviceRegistry::shared());
    }
    mOutput = std::make_unique<ZOAudioUnit>(mOutputInstance.get());
    mOutputRate = ReadOutputRate();

    mOutput->SetStreamFormat(
        kAudioUnitScope_Input, 0,
        float32Format(mOutputRate, kChannels, kAudioFormatFlagsFloatNonInterleaved));
    std::uint32_t frames = kBufferFrames;
    mOutput->SetProperty(kAudioDevicePropertyBufferFrameSize, &frames, sizeof frames, 0,
                         kAudioUnitScope_Global);
    const AURenderCallbackStruct tee{&KOAuxGenerator::Tee, this};
    mOutput->SetProperty(kAudioUnitProperty_SetRenderCallback, &tee, sizeof tee, 0,
                         kAudioUnitScope_Input);
    mOutput->Initialize();
    mEngineRate = mOutputRate;
    mSource->setSampleRate(mEngineRate);
}

KOAuxGenerator::~KOAuxGenerator() {
    // Stopping waits for a running tee; Render is kept away by the engine, which has detached us.
    StopOutput();
}

double KOAuxGenerator::ReadOutputRate() const {
    double rate = 0.0;
    std::uint32_t size = sizeof rate;
    mOutput->GetProperty(kAudioDevicePropertyNominalSampleRate, &rate, &size, 0,
                         kAudioUnitScope_Global);
    return rate;
}

void KOAuxGenerator::StopOutput() {
    if (mRunning) {
        mOutputInstance->stop();
        mRunning = false;
    }
}

void KOAuxGenerator::StartOutput() {
    if (mVarispeed) {
        // A fresh converter: nothing of the previous run's history leaks into this one.
        mVarispeed = std::make_unique<koru::Varispeed>(mOutputRate / mEngineRate,
                                                       &KOAuxGenerator::PullSource, this);
    }
    const OSStatus status = mOutputInstance->start();
    if (status != noErr) {
        std::string cause = mOutputInstance->failureReason();
        if (cause.empty()) {
            cause = fmt::format("error {}", status);
        }
        throw KOAuxInputException(status, fmt::format("its output did not start: {}", cause));
    }
    mRunning = true;
}

bool KOAuxGenerator::OutputRunning() const {
    if (!mRunning) {
        return false;
    }
    const auto* unit = dynamic_cast<const koru::platform::AudioOutputUnit*>(mOutputInstance.get());
    return unit == nullptr || unit->isRunning();
}

void KOAuxGenerator::Start() {
    StopOutput();
    {
        // The previous run's frames would otherwise be read again at the same times.
        std::lock_guard lock(mRingMutex);
        mRing.reset();
        mReadPosition = 0;
        mWritePosition = 0;
    }
    StartOutput();
}

void KOAuxGenerator::SetEngineSampleRate(double rate) {
    if (!(rate > 0.0) || rate == mEngineRate) {
        return;
    }
    const bool wasRunning = mRunning;
    StopOutput();
    // Ask the speakers for the engine's rate; a device that keeps its own is converted to.
    mOutputInstance->setProperty(kAudioDevicePropertyNominalSampleRate, kAudioUnitScope_Global, 0,
                                 &rate, sizeof rate);
    mOutputRate = ReadOutputRate();
    mEngineRate = rate;
    mSource->setSampleRate(rate);
    mVarispeed.reset();
    if (mOutputRate > 0.0 && mOutputRate != mEngineRate) {
        mVarispeed = std::make_unique<koru::Varispeed>(mOutputRate / mEngineRate,
                                                       &KOAuxGenerator::PullSource, this);
    }
    if (wasRunning) {
        Start();
    }
}

void KOAuxGenerator::SetVolume(float gain) {
    mOutput->SetParameter(kHALOutputParam_Volume, kAudioUnitScope_Global, 0, gain);
}

float KOAuxGenerator::Volume() const {
    return mOutput->GetParameter(kHALOutputParam_Volume, kAudioUnitScope_Global, 0);
}

std::int64_t KOAuxGenerator::ReadPosition() const {
    std::lock_guard lock(mRingMutex);
    return mReadPosition;
}

std::int64_t KOAuxGenerator::WritePosition() const {
    std::lock_guard lock(mRingMutex);
    return mWritePosition;
}

void KOAuxGenerator::RenderAndStore(float* const* channels, std::uint32_t frames) {
    mSource->render(channels, frames);
    if (!lockBriefly(mRingMutex)) {
        return;
    }
    mRing.store(std::span<const float* const>(channels, kChannels), frames, mWritePosition);
    mWritePosition += frames;
    mRingMutex.unlock();
}

void KOAuxGenerator::PullSource(void* self, float* const* channels, std::uint32_t frames) {
    static_cast<KOAuxGenerator*>(self)->RenderAndStore(channels, frames);
}

OSStatus KOAuxGenerator::Tee(void* self, AudioUnitRenderActionFlags*, const AudioTimeStamp*,
                             std::uint32_t, std::uint32_t frames, AudioBufferList* data) {
    auto* generator = static_cast<KOAuxGenerator*>(self);
    if (data == nullptr || data->mBuffers == nullptr) {
        return noErr;
    }
    // Render straight into the output's buffers; channels it lacks go to a spare buffer.
    std::uint32_t length = std::min<std::uint32_t>(frames, kBufferFrames * 4);
    float* channels[kChannels];
    for (std::uint32_t c = 0; c < kChannels; ++c) {
        if (c < data->mNumberBuffers) {
            channels[c] = static_cast<float*>(data->mBuffers[c].mData);
            length = std::min(length, samplesIn(data->mBuffers[c]));
        } else {
            channels[c] = generator->mSpare.data() + std::size_t(c) * kBufferFrames * 4;
        }
    }
    if (length == 0) {
        return noErr;
    }
    if (generator->mVarispeed) {
        generator->mVarispeed->read(channels, length);
    } else {
        generator->RenderAndStore(channels, length);
    }
    return noErr;
}

void KOAuxGenerator::Starve(AudioBufferList* buffers, std::uint32_t first,
                            std::uint32_t frames) noexcept {
    for (std::uint32_t c = 0; c < kChannels; ++c) {
        AudioBuffer& buffer = buffers->mBuffers[first + c];
        std::fill_n(static_cast<float*>(buffer.mData), std::min(frames, samplesIn(buffer)), 0.0f);
    }
    mStarved.fetch_add(1, std::memory_order_relaxed);
}

void KOAuxGenerator::Render(AudioBufferList* buffers, std::uint32_t first, std::uint32_t frames) {
    if (buffers == nullptr || buffers->mBuffers == nullptr || first >= buffers->mNumberBuffers ||
        buffers->mNumberBuffers - first < kChannels) {
        return;
    }
    if (!lockBriefly(mRingMutex)) {
        Starve(buffers, first, frames);
        return;
    }
    std::lock_guard lock(mRingMutex, std::adopt_lock);
    const auto bounds = mRing.timeBounds();
    if (!bounds) {
        Starve(buffers, first, frames);
        return;
    }
    if (mReadPosition < bounds->start) {
        // Fell out of the ring: pick up again just behind the writer.
        mReadPosition = mWritePosition - kResyncDistance;
        Starve(buffers, first, frames);
        return;
    }
    if (mReadPosition + std::int64_t(frames) > bounds->end) {
        Starve(buffers, first, frames); // not written yet: the next buffer tries again
        return;
    }
    for (std::uint32_t c = 0; c < kChannels; ++c) {
        AudioBuffer& buffer = buffers->mBuffers[first + c];
        const std::uint32_t length = std::min(frames, samplesIn(buffer));
        mRing.fetchChannel(c, static_cast<float*>(buffer.mData), length, mReadPosition);
    }
    mReadPosition += frames;
}
