#pragma once

#include "zotools/ZOAudioOutputUnit.h"
#include "zotools/ZOInputClient.h"

#include <atomic>
#include <cstdint>
#include <vector>

namespace koru::platform {
class AudioInputUnit;
}

// The input engine: the hardware unit's input callback renders every block into the engine's
// buffer list (one Float32 buffer per channel) and hands it to the clients in registration order.
//
// The audio pass (InputProc: render, then Process and everything an override does) holds the
// engine mutex, taken with try_lock: a pass that finds it busy is skipped, so after RemoveClient
// returns no Process of that client runs. Process overrides must not lock it again. A skipped
// pass is counted at once and credited to every registered client by the next pass that runs
// (the list is walked only under the mutex); BlockSkipped lets a derived engine have it logged
// off the audio thread.
// Lock order: engine mutex, then any instrument mutex.
class ZOAudioInput : public ZOAudioOutputUnit {
public:
    // deviceID 0 uses the default input device. The constructor runs its own SetupBuffers (C++
    // runs no override from a base constructor); a derived engine sets up its buffers again.
    // Hardware errors leave the engine half built, as printed; other errors propagate.
    ZOAudioInput(AudioDeviceID deviceID, std::uint32_t requestedFrames);
    ~ZOAudioInput() override;

    // Every property change of the unit (device, rate, channel layout) reconfigures.
    void PropertyChanged(AudioUnitPropertyID id, AudioUnitScope scope,
                         AudioUnitElement element) override;
    void Start() override;
    void Stop() override;
    virtual void SetupBuffers(std::uint32_t extraChannels);
    virtual void AfterProcess() = 0;
    virtual void Process(const AudioTimeStamp* time, std::uint32_t bus, std::uint32_t frames);
    virtual void ErrorHandler(std::uint64_t code) = 0;
    // Audio thread, after a pass was skipped and counted: must not block, allocate or log.
    virtual void BlockSkipped() noexcept {}

    // Stop; under the engine mutex rebuild the buffers and tell every client the new channel
    // count, then the host; start again.
    void Reconfigure(AudioUnitPropertyID id, AudioUnitScope scope, AudioUnitElement element);
    void AddClient(ZOInputClient* client);
    void RemoveClient(ZOInputClient* client);

    static AudioBufferList* AllocateBufferList(std::uint32_t channels, std::uint32_t bytes);
    static void FreeBufferList(AudioBufferList* list);
    static OSStatus InputProc(void* context, AudioUnitRenderActionFlags* flags,
                              const AudioTimeStamp* time, std::uint32_t bus, std::uint32_t frames,
                              AudioBufferList* data);

    bool IsRunning() const { return m_running.load(); }
    // The status of the last Start that failed (noErr after one that worked). A refused start
    // leaves the engine not running; the hardware unit reports why and moves to the virtual input.
    OSStatus LastStartError() const { return m_lastStartError.load(); }
    // Passes skipped because the engine mutex was busy, since construction. Any thread.
    std::uint64_t SkippedBlocks() const { return m_skippedTotal.load(std::memory_order_relaxed); }
    // The hardware input unit; null when another component stands in.
    koru::platform::AudioInputUnit* HardwareUnit() const;
    std::uint32_t TotalChannels() const { return m_totalChannels; }
    std::uint32_t HardwareChannels() const { return m_hardwareChannels; }
    std::uint32_t GrantedFrames() const { return m_grantedFrames; }
    std::uint32_t RequestedFrames() const { return m_requestedFrames; }
    const AudioStreamBasicDescription& ClientFormat() const { return m_clientFormat; }
    const AudioStreamBasicDescription& DeviceFormat() const { return m_deviceFormat; }
    const AudioBufferList* BufferList() const { return m_bufferList; }
    std::size_t NumberOfClients() const { return m_clients.size(); }

protected:
    AudioBufferList* m_bufferList = nullptr;
    std::vector<ZOInputClient*> m_clients; // not owned; registration order is call order
    std::atomic<bool> m_running{false};
    std::uint32_t m_totalChannels = 0;
    std::uint32_t m_grantedFrames = 0;
    AudioStreamBasicDescription m_clientFormat{};
    AudioStreamBasicDescription m_deviceFormat{};
    std::uint32_t m_hardwareChannels = 0;
    std::uint32_t m_requestedFrames = 0;

private:
    void CreditSkippedBlocks() noexcept; // engine mutex held

    void RenderAndProcess(AudioUnitRenderActionFlags* flags, const AudioTimeStamp* time,
                          std::uint32_t bus, std::uint32_t frames);
    void SilenceBuffers(std::uint32_t frames);

    std::atomic<OSStatus> m_lastStartError{noErr};
    std::atomic<std::uint64_t> m_skippedPending{0}; // not yet credited to the clients
    std::atomic<std::uint64_t> m_skippedTotal{0};
};
