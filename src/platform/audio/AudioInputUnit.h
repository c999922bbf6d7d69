#pragma once

#include "platform/audio/AudioInputStream.h"
#include "platform/audio/AudioTypes.h"
#include "platform/audio/AudioUnitInstance.h"
#include "platform/audio/DeviceRegistry.h"

#include <QString>

#include <array>
#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <vector>

class QObject;
class QTimer;

namespace koru::platform {

// The hardware input unit: captures one device and hands its input callback blocks of exactly
// the buffer frame size ('fsiz', 1024 unless set), whatever period the device grants.
//
// Properties: current device (2000, global), channel map (2002, input or output scope,
// element 1), EnableIO (2003), input callback (2005, global), stream format (8: device side on
// the input scope of element 1, read-only; client side on the output scope of element 1,
// Float32 packed, non-interleaved beyond one channel, at the device's rate), 'fsiz' and 'nsrt'
// (global). Listeners hear 2000 on a device switch, 'nsrt' on a rate change and 'slay' when the
// device's channel count changes.
//
// Configuration belongs to the main thread; the input callback and render() run on the device's
// thread. A device that cannot be opened or started (busy, a refused rate or channel count), that
// fails while in use (a read error, a pace no device keeps) or that disappears is reported once
// through the failure handler; its stream hands nothing more on, and the unit moves to the
// virtual input on the main thread (then fires 2000). A start that fails answers its status and
// leaves the unit not running until the move.
class AudioInputUnit final : public AudioUnitInstance, private AudioInputStream::Sink {
public:
    static constexpr std::uint32_t kDefaultBlockFrames = 1024;
    static constexpr std::uint32_t kMinBlockFrames = 64;
    static constexpr std::uint32_t kMaxBlockFrames = 8192;
    static constexpr std::uint32_t kMaxClientChannels = 256;
    static constexpr int kWatchdogIntervalMs = 100;

    // Main thread: the device and why it failed, before the unit moves to the virtual input.
    using FailureHandler = std::function<void(std::uint32_t deviceID, const QString& reason)>;

    explicit AudioInputUnit(DeviceRegistry& registry = DeviceRegistry::shared());
    ~AudioInputUnit() override;

    OSStatus getPropertyInfo(AudioUnitPropertyID id, AudioUnitScope scope, AudioUnitElement element,
                             std::uint32_t* size, bool* writable) override;
    OSStatus getProperty(AudioUnitPropertyID id, AudioUnitScope scope, AudioUnitElement element,
                         void* data, std::uint32_t* size) override;
    OSStatus setProperty(AudioUnitPropertyID id, AudioUnitScope scope, AudioUnitElement element,
                         const void* data, std::uint32_t size) override;
    OSStatus initialize() override;
    OSStatus uninitialize() override;
    OSStatus start() override;
    OSStatus stop() override;
    // Only valid inside the input callback: copies the current block through the channel map.
    OSStatus render(AudioUnitRenderActionFlags* flags, const AudioTimeStamp* time,
                    std::uint32_t bus, std::uint32_t frames, AudioBufferList* data) override;

    // Main thread: a device that did not start, a failed stream or a vanished device moves the
    // unit to the virtual input; new overflows are logged. A main-thread timer runs it while the
    // unit is meant to run, and a failed start queues it at once; tests may call it directly.
    void checkDevice();
    void setFailureHandler(FailureHandler handler) { m_failureHandler = std::move(handler); }

    std::uint32_t currentDevice() const { return m_device; }
    bool isInitialized() const { return m_initialized; }
    bool isRunning() const { return m_running; } // capturing (not merely asked to)
    std::uint32_t devicePeriodFrames() const;    // what the device granted; 0 while stopped
    std::uint64_t overflows() const;             // of the current stream
    // The last failure, naming the device and the cause; empty while none happened.
    std::string failureReason() const override { return m_failureReason.toStdString(); }

private:
    void deliver(const float* const* channels, std::uint32_t channelCount,
                 std::uint32_t frames) noexcept override;
    void fireBlock() noexcept;

    OSStatus getStreamFormat(AudioUnitScope scope, AudioUnitElement element, void* data,
                             std::uint32_t* size) const;
    OSStatus setStreamFormat(AudioUnitScope scope, AudioUnitElement element, const void* data,
                             std::uint32_t size);
    OSStatus setCurrentDevice(std::uint32_t id);
    OSStatus setChannelMap(const void* data, std::uint32_t size);
    OSStatus getChannelMap(void* data, std::uint32_t* size) const;
    std::uint32_t channelMapLength() const;
    void resetChannelMap();
    AudioStreamBasicDescription deviceFormat() const;
    std::uint32_t deviceChannels() const;
    double deviceRate() const;

    OSStatus openAndStartStream();
    void closeStream();
    OSStatus switchDevice(std::uint32_t id); // keeps the initialised and wanted-running states
    OSStatus restart();                      // a stream at the new rate or layout, when wanted
    void deviceRefused(const QString& reason);
    void failOver(const QString& reason);
    void onDeviceListChanged();
    void onRateChanged(std::uint32_t id, double rate);
    void startWatchdog();
    void scheduleCheck();
    void logOverflows();

    DeviceRegistry& m_registry;
    DeviceRegistry::ListenerId m_listListener = 0;
    DeviceRegistry::ListenerId m_rateListener = 0;
    FailureHandler m_failureHandler;

    // Main-thread configuration.
    std::uint32_t m_device = 0;
    std::uint32_t m_knownDeviceChannels = 0;
    bool m_enableInput = true;
    bool m_hasClientFormat = false;
    AudioStreamBasicDescription m_clientFormat{};
    AURenderCallbackStruct m_inputCallback{};
    bool m_initialized = false;
    bool m_wantRunning = false;         // started and not stopped since
    bool m_running = false;             // a stream runs (or input is disabled)
    std::uint32_t m_reportedDevice = 0; // its failure was reported; 0 once a stream runs again
    QString m_pendingFailure;           // a start that failed, for checkDevice
    QString m_failureReason;
    QString m_startError; // why openAndStartStream failed
    std::uint64_t m_loggedOverflows = 0;
    bool m_checkQueued = false;
    std::unique_ptr<QObject> m_context; // queued checks die with the unit
    std::unique_ptr<QTimer> m_watchdog;

    // Read on the device thread; written only while no stream runs.
    std::uint32_t m_blockFrames = kDefaultBlockFrames;
    std::uint32_t m_clientChannels = 0;
    std::uint32_t m_streamChannels = 0;
    std::unique_ptr<AudioInputStream> m_stream;
    std::vector<float> m_blockStorage;
    std::vector<float*> m_block;
    std::uint32_t m_fill = 0;
    std::uint64_t m_blocksDelivered = 0;

    // Changeable while running (the input patch): a block read during an edit may mix both.
    std::array<std::atomic<std::int32_t>, kMaxClientChannels> m_channelMap{};
    std::atomic<double> m_sampleRate{0.0};
};

} // namespace koru::platform
