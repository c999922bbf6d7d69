#pragma once

#include "platform/audio/AudioOutputStream.h"
#include "platform/audio/AudioTypes.h"
#include "platform/audio/AudioUnitInstance.h"
#include "platform/audio/DeviceRegistry.h"

#include <atomic>
#include <memory>
#include <string>
#include <vector>

namespace koru::platform {

// The default output unit: plays what its render callback (23, input scope, element 0) renders,
// in blocks of 'fsiz' frames whatever the device's period, on the default output device (or the
// null output when there is none). Properties: current device (2000), stream format (8: the
// client side on the input scope of element 0, Float32 non-interleaved at the device's rate),
// 'nsrt', 'fsiz'; parameter 14 is the volume applied after rendering.
class AudioOutputUnit final : public AudioUnitInstance, private AudioOutputStream::Source {
public:
    static constexpr std::uint32_t kDefaultBlockFrames = 1024;
    static constexpr std::uint32_t kMaxChannels = 32;

    explicit AudioOutputUnit(DeviceRegistry& registry = DeviceRegistry::shared());
    ~AudioOutputUnit() override;

    OSStatus getProperty(AudioUnitPropertyID id, AudioUnitScope scope, AudioUnitElement element,
                         void* data, std::uint32_t* size) override;
    OSStatus setProperty(AudioUnitPropertyID id, AudioUnitScope scope, AudioUnitElement element,
                         const void* data, std::uint32_t size) override;
    OSStatus getParameter(AudioUnitParameterID id, AudioUnitScope scope, AudioUnitElement element,
                          float* value) override;
    OSStatus setParameter(AudioUnitParameterID id, AudioUnitScope scope, AudioUnitElement element,
                          float value) override;
    OSStatus initialize() override;
    OSStatus uninitialize() override;
    OSStatus start() override;
    OSStatus stop() override;

    std::uint32_t currentDevice() const { return m_device; }
    // Playing: started, and the stream has not failed under it. A failed output stays this
    // unit's business; it never touches an input.
    bool isRunning() const { return m_stream != nullptr && !m_stream->failed(); }
    std::string failureReason() const override;

private:
    void pull(float* const* channels, std::uint32_t channelCount,
              std::uint32_t frames) noexcept override;
    void renderBlock() noexcept;
    AudioStreamBasicDescription format() const;
    double deviceRate() const;

    DeviceRegistry& m_registry;
    std::uint32_t m_device = 0;
    std::uint32_t m_channels = 2;
    std::uint32_t m_blockFrames = kDefaultBlockFrames;
    AURenderCallbackStruct m_renderCallback{};
    bool m_initialized = false;
    std::atomic<float> m_volume{1.0f};

    std::unique_ptr<AudioOutputStream> m_stream;
    std::string m_startError; // why the last start failed
    std::vector<float> m_blockStorage;
    std::vector<AudioBuffer> m_buffers;
    AudioBufferList m_bufferList;
    std::uint32_t m_available = 0; // frames of the current block not yet played
    std::uint64_t m_blocksRendered = 0;
};

} // namespace koru::platform
