#include "platform/audio/AudioOutputUnit.h"

#include "platform/audio/AudioStreamError.h"
#include "platform/log/Log.h"

#include <algorithm>
#include <cstring>

namespace koru::platform {

AudioOutputUnit::AudioOutputUnit(DeviceRegistry& registry)
    : m_registry(registry), m_device(registry.defaultOutputDevice()) {}

AudioOutputUnit::~AudioOutputUnit() {
    stop();
}

double AudioOutputUnit::deviceRate() const {
    const auto info = m_registry.device(m_device);
    return info ? info->nominalSampleRate : 0.0;
}

AudioStreamBasicDescription AudioOutputUnit::format() const {
    return float32Format(deviceRate(), m_channels, kAudioFormatFlagsFloatNonInterleaved);
}

OSStatus AudioOutputUnit::getProperty(AudioUnitPropertyID id, AudioUnitScope scope,
                                      AudioUnitElement, void* data, std::uint32_t* size) {
    switch (id) {
    case kAudioOutputUnitProperty_CurrentDevice:
        return answer(m_device, data, size);
    case kAudioDevicePropertyNominalSampleRate:
        return answer(deviceRate(), data, size);
    case kAudioDevicePropertyBufferFrameSize:
        return answer(m_blockFrames, data, size);
    case kAudioUnitProperty_StreamFormat:
        return answer(format(), data, size);
    case kAudioUnitProperty_SetRenderCallback:
        if (scope != kAudioUnitScope_Input)
            return kAudioUnitErr_InvalidScope;
        return answer(m_renderCallback, data, size);
    default:
        return kAudioUnitErr_InvalidProperty;
    }
}

OSStatus AudioOutputUnit::setProperty(AudioUnitPropertyID id, AudioUnitScope scope,
                                      AudioUnitElement, const void* data, std::uint32_t size) {
    if (m_stream && id != kAudioDevicePropertyNominalSampleRate)
        return kAudioUnitErr_CannotDoInCurrentContext;
    switch (id) {
    case kAudioOutputUnitProperty_CurrentDevice: {
        std::uint32_t device = 0;
        if (!read(data, size, device))
            return kAudioUnitErr_InvalidPropertyValue;
        if (device == 0)
            device = m_registry.defaultOutputDevice();
        const auto info = m_registry.device(device);
        if (!info || !info->hasOutputs())
            return kAudioHardwareBadDeviceError;
        m_device = device;
        notifyPropertyChanged(id, kAudioUnitScope_Global, 0);
        return noErr;
    }
    case kAudioDevicePropertyNominalSampleRate: {
        double rate = 0;
        if (!read(data, size, rate))
            return kAudioUnitErr_InvalidPropertyValue;
        return m_registry.setNominalSampleRate(m_device, rate);
    }
    case kAudioDevicePropertyBufferFrameSize: {
        std::uint32_t frames = 0;
        if (!read(data, size, frames) || frames < 64 || frames > 8192)
            return kAudioUnitErr_InvalidPropertyValue;
        m_blockFrames = frames;
        return noErr;
    }
    case kAudioUnitProperty_StreamFormat: {
        AudioStreamBasicDescription f;
        if (!read(data, size, f))
            return kAudioUnitErr_InvalidPropertyValue;
        const bool ok =
            f.mFormatID == kAudioFormatLinearPCM && (f.mFormatFlags & kAudioFormatFlagIsFloat) &&
            f.mBitsPerChannel == 32 && f.mChannelsPerFrame >= 1 &&
            f.mChannelsPerFrame <= kMaxChannels &&
            (f.mChannelsPerFrame == 1 || (f.mFormatFlags & kAudioFormatFlagIsNonInterleaved));
        if (!ok || (f.mSampleRate != 0 && f.mSampleRate != deviceRate()))
            return kAudioUnitErr_FormatNotSupported;
        m_channels = f.mChannelsPerFrame;
        return noErr;
    }
    case kAudioUnitProperty_SetRenderCallback: {
        if (scope != kAudioUnitScope_Input)
            return kAudioUnitErr_InvalidScope;
        AURenderCallbackStruct callback;
        if (!read(data, size, callback))
            return kAudioUnitErr_InvalidPropertyValue;
        m_renderCallback = callback;
        return noErr;
    }
    default:
        return kAudioUnitErr_InvalidProperty;
    }
}

OSStatus AudioOutputUnit::getParameter(AudioUnitParameterID id, AudioUnitScope, AudioUnitElement,
                                       float* value) {
    if (id != kHALOutputParam_Volume || !value)
        return kAudioUnitErr_InvalidParameter;
    *value = m_volume.load();
    return noErr;
}

OSStatus AudioOutputUnit::setParameter(AudioUnitParameterID id, AudioUnitScope scope,
                                       AudioUnitElement element, float value) {
    if (id != kHALOutputParam_Volume)
        return kAudioUnitErr_InvalidParameter;
    m_volume.store(std::clamp(value, 0.0f, 1.0f));
    notifyParameterChanged(id, scope, element, m_volume.load());
    return noErr;
}

OSStatus AudioOutputUnit::initialize() {
    const auto info = m_registry.device(m_device);
    if (!info || !info->hasOutputs())
        return kAudioHardwareBadDeviceError;
    m_initialized = true;
    return noErr;
}

OSStatus AudioOutputUnit::uninitialize() {
    stop();
    m_initialized = false;
    return noErr;
}

OSStatus AudioOutputUnit::start() {
    if (!m_initialized)
        return kAudioUnitErr_Uninitialized;
    if (m_stream)
        return noErr;
    m_blockStorage.assign(std::size_t(m_channels) * m_blockFrames, 0.0f);
    m_buffers.assign(m_channels, AudioBuffer{});
    m_bufferList.mNumberBuffers = m_channels;
    m_bufferList.mBuffers = m_buffers.data();
    m_available = 0;
    m_blocksRendered = 0;
    m_startError.clear();
    try {
        m_stream = m_registry.openOutput(m_device, m_channels, *this, m_blockFrames);
        m_stream->start();
    } catch (const AudioStreamError& error) {
        log::warn("Audio output: could not start device {}: {}", m_device, error.what());
        m_startError = error.what();
        m_stream.reset();
        return error.status();
    }
    return noErr;
}

std::string AudioOutputUnit::failureReason() const {
    if (!m_startError.empty())
        return m_startError;
    if (m_stream && m_stream->failed())
        return "the output device stopped playing";
    return {};
}

OSStatus AudioOutputUnit::stop() {
    if (!m_stream)
        return noErr;
    m_stream->stop();
    m_stream.reset();
    return noErr;
}

void AudioOutputUnit::renderBlock() noexcept {
    for (std::uint32_t c = 0; c < m_channels; ++c) {
        m_buffers[c].mNumberChannels = 1;
        m_buffers[c].mDataByteSize = m_blockFrames * sizeof(float);
        m_buffers[c].mData = m_blockStorage.data() + std::size_t(c) * m_blockFrames;
    }
    AudioTimeStamp time;
    time.mSampleTime = double(m_blocksRendered++) * m_blockFrames;
    time.mFlags = kAudioTimeStampSampleTimeValid;
    AudioUnitRenderActionFlags flags = 0;
    const OSStatus status =
        m_renderCallback.inputProc
            ? m_renderCallback.inputProc(m_renderCallback.inputProcRefCon, &flags, &time, 0,
                                         m_blockFrames, &m_bufferList)
            : kAudioUnitErr_CannotDoInCurrentContext;
    if (status != noErr)
        std::fill(m_blockStorage.begin(), m_blockStorage.end(), 0.0f);
    m_available = m_blockFrames;
}

void AudioOutputUnit::pull(float* const* channels, std::uint32_t channelCount,
                           std::uint32_t frames) noexcept {
    const float volume = m_volume.load(std::memory_order_relaxed);
    std::uint32_t done = 0;
    while (done < frames) {
        if (m_available == 0)
            renderBlock();
        const std::uint32_t n = std::min(frames - done, m_available);
        const std::uint32_t from = m_blockFrames - m_available;
        for (std::uint32_t c = 0; c < channelCount; ++c) {
            float* out = channels[c] + done;
            if (c >= m_channels) {
                std::fill_n(out, n, 0.0f);
                continue;
            }
            const float* in = m_blockStorage.data() + std::size_t(c) * m_blockFrames + from;
            for (std::uint32_t i = 0; i < n; ++i)
                out[i] = in[i] * volume;
        }
        m_available -= n;
        done += n;
    }
}

} // namespace koru::platform
