#pragma once

#include "platform/audio/AudioBackend.h"
#include "platform/audio/AudioDeviceInfo.h"
#include "platform/audio/AudioInputStream.h"
#include "platform/audio/AudioOutputStream.h"
#include "platform/audio/AudioTypes.h"
#include "platform/audio/NullOutputDevice.h"
#include "platform/audio/VirtualInputDevice.h"

#include <QString>

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

class QTimer;

namespace koru::platform {

// The list of audio devices: the real ones of one sound system plus the virtual ones, under IDs
// of our own (stable for the run, never reused) and UIDs that stay the same across runs.
// The list is re-read on a main-thread timer; listeners are called on the thread that changes
// the list (the timer's, so main), never with the registry's lock held.
class DeviceRegistry {
public:
    // What enumerating the sound system found about one device.
    struct ProbedDevice {
        std::string name;
        std::uint32_t inputChannels = 0;
        std::uint32_t outputChannels = 0;
        std::vector<unsigned> sampleRates;
        unsigned preferredSampleRate = 0;
        bool isDefaultInput = false;
        bool isDefaultOutput = false;
        bool probed = true; // false: busy (our own stream holds it); keep what we knew
    };
    // The sound system's devices in its order; nullopt when enumeration failed this time.
    using Enumerator = std::function<std::optional<std::vector<ProbedDevice>>()>;
    using ListenerId = std::uint64_t;

    static constexpr std::uint32_t kMaxHardwareChannels = 64; // ALSA "default" claims thousands
    static constexpr int kPollIntervalMs = 2000;

    // The process's registry: back-end from KORU_AUDIO_API, polling on the main thread.
    static DeviceRegistry& shared();

    explicit DeviceRegistry(AudioBackend backend);               // enumerates through RtAudio
    DeviceRegistry(AudioBackend backend, Enumerator enumerator); // tests fake the sound system
    ~DeviceRegistry();
    DeviceRegistry(const DeviceRegistry&) = delete;
    DeviceRegistry& operator=(const DeviceRegistry&) = delete;

    AudioBackend backend() const { return m_backend; }

    std::vector<AudioDeviceInfo> devices() const;
    std::optional<AudioDeviceInfo> device(std::uint32_t id) const;
    std::uint32_t deviceForUID(const QString& uid) const; // 0 when no such device is present
    std::uint32_t defaultInputDevice() const;
    std::uint32_t defaultOutputDevice() const;
    std::uint32_t virtualInputDevice() const { return m_virtualInputId; } // the fallback input
    std::uint32_t manualInputDevice() const { return m_manualInputId; }
    std::uint32_t nullOutputDevice() const { return m_nullOutputId; }

    // Chooses the rate streams on the device open at; fires the rate listeners when it changed.
    // kAudioHardwareBadDeviceError for an unknown device, kAudioDeviceUnsupportedFormatError for
    // a rate the device does not offer.
    OSStatus setNominalSampleRate(std::uint32_t id, double rate);

    // Reads the sound system's list again; answers whether the list changed (listeners fired).
    bool refresh();
    void startPolling(int intervalMs = kPollIntervalMs); // main thread; a no-op without Qt app
    void stopPolling();

    ListenerId addListListener(std::function<void()> listener);
    ListenerId addRateListener(std::function<void(std::uint32_t id, double rate)> listener);
    void removeListener(ListenerId id);

    // Plugs a virtual input in (fires the list listeners); throws std::invalid_argument for a
    // configuration no virtual device can have.
    std::uint32_t addVirtualInput(const VirtualInputConfig& config);
    // Plugs another null output in (fires the list listeners): tests make it refuse to start.
    std::uint32_t addNullOutput(const QString& name);
    // Unplugs a device added with addVirtualInput or addNullOutput; false for any other ID.
    bool removeDevice(std::uint32_t id);
    std::shared_ptr<VirtualInputDevice> virtualInput(std::uint32_t id) const;
    std::shared_ptr<NullOutputDevice> nullOutput(std::uint32_t id) const;

    // Opens a capture stream on every input channel of the device at its nominal rate.
    // Throws AudioStreamError (unknown device, no inputs, refused by the sound system).
    std::unique_ptr<AudioInputStream> openInput(std::uint32_t id, AudioInputStream::Sink& sink,
                                                std::uint32_t requestedFrames);
    std::unique_ptr<AudioOutputStream> openOutput(std::uint32_t id, std::uint32_t channels,
                                                  AudioOutputStream::Source& source,
                                                  std::uint32_t requestedFrames);

private:
    struct Entry {
        AudioDeviceInfo info;
        int ordinal = 0; // which of the devices with this name
        bool removable = false;
        std::shared_ptr<VirtualInputDevice> virtualInput;
        std::shared_ptr<NullOutputDevice> nullOutput;
    };
    struct Listener {
        ListenerId id;
        std::function<void()> list;
        std::function<void(std::uint32_t, double)> rate;
    };

    void addBuiltInDevices();
    std::uint32_t addVirtualEntry(Entry entry);                  // mutex held
    bool mergeHardware(const std::vector<ProbedDevice>& probed); // mutex held
    std::uint32_t defaultInputLocked() const;                    // mutex held
    std::uint32_t defaultOutputLocked() const;                   // mutex held
    const Entry* find(std::uint32_t id) const;                   // mutex held
    Entry* find(std::uint32_t id);                               // mutex held
    QString uniqueVirtualUid(const QString& name) const;         // mutex held
    Entry streamEntry(std::uint32_t id) const; // a copy; throws AudioStreamError when unknown
    std::vector<Listener> listenersCopy();     // called out to without the listener mutex held
    void fireListChanged();
    void fireRateChanged(std::uint32_t id, double rate);
    std::optional<std::vector<ProbedDevice>> enumerateRtAudio();

    const AudioBackend m_backend;
    Enumerator m_enumerator;
    mutable std::mutex m_mutex; // guards the entries and the ID counter; never held calling out
    std::vector<Entry> m_hardware;
    std::vector<Entry> m_virtual;
    std::uint32_t m_nextId = 1;
    std::uint32_t m_virtualInputId = 0;
    std::uint32_t m_manualInputId = 0;
    std::uint32_t m_nullOutputId = 0;

    std::mutex m_listenerMutex; // guards m_listeners only
    std::vector<Listener> m_listeners;
    ListenerId m_nextListenerId = 1;

    std::string m_alsaSignature; // enumeration thread only: skip re-probing an unchanged ALSA
    std::optional<std::vector<ProbedDevice>> m_lastProbe;
    std::unique_ptr<QTimer> m_timer;
};

} // namespace koru::platform
