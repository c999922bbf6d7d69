#pragma once

#include "zotools/ZOAudioOutputUnit.h"
#include "zotools/ZOInputClient.h"

#include <atomic>
#include <cstdint>
#include <vector>

// The input engine: the hardware unit's input callback renders every block into the engine's
// buffer list (one Float32 buffer per channel) and hands it to the clients in registration order.
//
// The audio pass (InputProc: render, then Process and everything an override does) holds the
// engine mutex, taken with try_lock: a pass that finds it busy is skipped, so after RemoveClient
// returns no Process of that client runs. Process overrides must not lock it again.
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
    void RenderAndProcess(AudioUnitRenderActionFlags* flags, const AudioTimeStamp* time,
                          std::uint32_t bus, std::uint32_t frames);
    void SilenceBuffers(std::uint32_t frames);
};
