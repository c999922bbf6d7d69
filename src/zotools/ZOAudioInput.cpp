#include "zotools/ZOAudioInput.h"

#include "platform/audio/AudioInputUnit.h"
#include "platform/audio/DeviceRegistry.h"
#include "zotools/CAException.h"
#include "zotools/ZOInputClientException.h"

#include <fmt/format.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace {

void say(const std::string& text) {
    fmt::print("{}", text);
    std::fflush(stdout);
}

} // namespace

ZOAudioInput::ZOAudioInput(AudioDeviceID deviceID, std::uint32_t requestedFrames)
    : ZOAudioOutputUnit(true, false), m_requestedFrames(requestedFrames) {
    say(fmt::format("\nTrying to initialize Audio Engine with Device ID {}...", deviceID));
    try {
        auto& registry = koru::platform::DeviceRegistry::shared();
        if (deviceID == 0) {
            say(" -I think I'll better use the Default Input Device with the Device ID ");
            deviceID = registry.defaultInputDevice();
            say(fmt::format("{}.\n", deviceID));
        } else if (!registry.device(deviceID)) {
            // A device unplugged since its ID was stored: take the default rather than fail.
            const AudioDeviceID fallback = registry.defaultInputDevice();
            say(fmt::format("\nDevice ID {} is not available, using the Default Input Device "
                            "with the Device ID {}.\n",
                            deviceID, fallback));
            deviceID = fallback;
        }
        SetCurrentDevice(deviceID);
        const AURenderCallbackStruct callback{&ZOAudioInput::InputProc, this};
        SetProperty(kAudioOutputUnitProperty_SetInputCallback, &callback, sizeof callback, 0,
                    kAudioUnitScope_Global);
        ZOAudioInput::SetupBuffers(0);
        AddPropertyListener(kAudioOutputUnitProperty_CurrentDevice);
        say("\nAudio Engine is set up and fine.");
    } catch (const CAException&) {
        say("\nFailed to initialize Audio Input!");
    }
}

ZOAudioInput::~ZOAudioInput() {
    // The callback points at this object: no pass may start once destruction begins.
    if (AudioUnit unit = Instance())
        unit->stop();
    FreeBufferList(m_bufferList);
}

void ZOAudioInput::PropertyChanged(AudioUnitPropertyID id, AudioUnitScope scope,
                                   AudioUnitElement element) {
    Reconfigure(id, scope, element);
}

void ZOAudioInput::SetupBuffers(std::uint32_t extraChannels) {
    m_deviceFormat = GetStreamFormat(kAudioUnitScope_Input, 1);
    m_hardwareChannels = m_deviceFormat.mChannelsPerFrame;
    m_totalChannels = extraChannels + m_hardwareChannels;

    m_clientFormat = float32Format(m_deviceFormat.mSampleRate, m_totalChannels,
                                   m_totalChannels == 1 ? kAudioFormatFlagsFloatPacked
                                                        : kAudioFormatFlagsFloatNonInterleaved);
    SetStreamFormat(kAudioUnitScope_Output, 1, m_clientFormat);

    std::uint32_t frames = m_requestedFrames;
    SetProperty(kAudioDevicePropertyBufferFrameSize, &frames, sizeof frames, 0,
                kAudioUnitScope_Global);
    std::uint32_t size = sizeof m_grantedFrames;
    GetProperty(kAudioDevicePropertyBufferFrameSize, &m_grantedFrames, &size, 0,
                kAudioUnitScope_Global);
    say(fmt::format("\nUsing a Buffer Size of {} frames.\n", m_grantedFrames));
    Initialize();

    FreeBufferList(m_bufferList); // a second setup (a derived engine's) replaces the first
    m_bufferList = AllocateBufferList(m_totalChannels, 4 * m_grantedFrames);
    if (!m_bufferList)
        throw CAException(1);
}

AudioBufferList* ZOAudioInput::AllocateBufferList(std::uint32_t channels, std::uint32_t bytes) {
    say(fmt::format("\nI am allocating the Audio Buffers, {} channels with {} bytes each...",
                    channels, bytes));
    auto* list = static_cast<AudioBufferList*>(std::calloc(1, sizeof(AudioBufferList)));
    if (!list)
        return nullptr;
    list->mBuffers =
        static_cast<AudioBuffer*>(std::calloc(std::max(channels, 1u), sizeof(AudioBuffer)));
    if (!list->mBuffers) {
        std::free(list);
        return nullptr;
    }
    list->mNumberBuffers = channels;
    for (std::uint32_t c = 0; c < channels; ++c) {
        AudioBuffer& buffer = list->mBuffers[c];
        buffer.mNumberChannels = 1;
        buffer.mDataByteSize = bytes;
        buffer.mData = std::malloc(std::max(bytes, 1u));
        if (!buffer.mData) {
            say(fmt::format("\n  ->Something went wrong at channel {}, I will give up.\n", c));
            FreeBufferList(list);
            return nullptr;
        }
    }
    say("done.");
    return list;
}

void ZOAudioInput::FreeBufferList(AudioBufferList* list) {
    if (!list)
        return;
    if (list->mBuffers) {
        for (std::uint32_t c = 0; c < list->mNumberBuffers; ++c)
            std::free(list->mBuffers[c].mData);
        std::free(list->mBuffers);
    }
    std::free(list);
}

void ZOAudioInput::AddClient(ZOInputClient* client) {
    if (!client)
        return;
    std::lock_guard lock(m_engineMutex);
    m_clients.push_back(client);
    client->SetHost(this);
    client->SetNumberOfChannels(m_totalChannels);
}

void ZOAudioInput::RemoveClient(ZOInputClient* client) {
    std::lock_guard lock(m_engineMutex);
    say("\nRemoving Input Client from I/O.");
    // A removed client forgets this engine (without its own SetHost, which would react to a
    // new host): it may outlive the engine, and its destructor must not reach back into it.
    if (std::erase(m_clients, client) > 0 && client->Host() == this)
        client->ZOInputClient::SetHost(nullptr);
}

void ZOAudioInput::Start() {
    say("\nStarting IO for Device...");
    try {
        ZOAudioOutputUnit::Start();
    } catch (const CAException& failure) {
        // Not swallowed: the engine knows it is not running, and the unit reports the device
        // and moves to the virtual input from the main loop.
        m_lastStartError.store(failure.GetError());
        m_running.store(false);
        say("ERROR!");
        return;
    }
    m_lastStartError.store(noErr);
    m_running.store(true);
    say(" done.");
}

koru::platform::AudioInputUnit* ZOAudioInput::HardwareUnit() const {
    return dynamic_cast<koru::platform::AudioInputUnit*>(Instance());
}

void ZOAudioInput::Stop() {
    say("\nStopping IO for Device...");
    try {
        ZOAudioOutputUnit::Stop();
    } catch (const CAException&) {
        say(" ERROR!");
        return;
    }
    m_running.store(false);
    say(" done.");
}

void ZOAudioInput::Reconfigure(AudioUnitPropertyID, AudioUnitScope, AudioUnitElement) {
    Stop();
    {
        std::lock_guard lock(m_engineMutex);
        FreeBufferList(m_bufferList);
        m_bufferList = nullptr;
        Uninitialize();
        SetupBuffers(0);
        for (ZOInputClient* client : m_clients)
            client->SetNumberOfChannels(m_totalChannels);
        for (ZOInputClient* client : m_clients)
            client->SetHost(this);
    }
    Start();
}

OSStatus ZOAudioInput::InputProc(void* context, AudioUnitRenderActionFlags* flags,
                                 const AudioTimeStamp* time, std::uint32_t bus,
                                 std::uint32_t frames, AudioBufferList*) {
    auto* self = static_cast<ZOAudioInput*>(context);
    std::unique_lock lock(self->m_engineMutex, std::try_to_lock);
    if (!lock.owns_lock()) {
        // An edit is under way on the main thread: skip this block, but never silently.
        self->m_skippedPending.fetch_add(1, std::memory_order_relaxed);
        self->m_skippedTotal.fetch_add(1, std::memory_order_relaxed);
        self->BlockSkipped();
        return noErr;
    }
    self->CreditSkippedBlocks();
    self->RenderAndProcess(flags, time, bus, frames);
    return noErr;
}

void ZOAudioInput::CreditSkippedBlocks() noexcept {
    const std::uint64_t skipped = m_skippedPending.exchange(0, std::memory_order_relaxed);
    if (skipped == 0)
        return;
    for (ZOInputClient* client : m_clients)
        client->AddSkippedBlocks(skipped);
}

void ZOAudioInput::RenderAndProcess(AudioUnitRenderActionFlags* flags, const AudioTimeStamp* time,
                                    std::uint32_t bus, std::uint32_t frames) {
    if (!m_bufferList || frames > m_grantedFrames)
        return;
    // A failed render must not pass last block's samples on as new audio.
    if (Render(flags, time, bus, frames, m_bufferList) != noErr)
        SilenceBuffers(frames);
    try {
        Process(time, bus, frames);
    } catch (...) {
        // Exceptions never leave the audio callback; Process reports client failures itself.
    }
}

void ZOAudioInput::SilenceBuffers(std::uint32_t frames) {
    for (std::uint32_t c = 0; c < m_bufferList->mNumberBuffers; ++c) {
        AudioBuffer& buffer = m_bufferList->mBuffers[c];
        buffer.mDataByteSize = frames * 4;
        std::memset(buffer.mData, 0, std::size_t(frames) * 4);
    }
}

void ZOAudioInput::Process(const AudioTimeStamp*, std::uint32_t, std::uint32_t frames) {
    for (ZOInputClient* client : m_clients) {
        if (client->IsPaused())
            continue;
        try {
            client->Process(m_bufferList, frames);
        } catch (const ZOInputClientException& failure) {
            ErrorHandler(failure.Code());
        } catch (...) {
            ErrorHandler(std::uint64_t(std::uint32_t(kAudioHardwareUnspecifiedError)));
        }
    }
    AfterProcess();
}
