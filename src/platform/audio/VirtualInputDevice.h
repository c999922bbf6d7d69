#pragma once

#include "platform/audio/AudioInputStream.h"
#include "platform/audio/AudioTypes.h"
#include "platform/audio/MonotonicClock.h"
#include "platform/audio/VirtualSignal.h"

#include <QString>

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

namespace koru::platform {

// What a test device does wrong, the way real sound systems do. Everything off by default.
struct VirtualInputFaults {
    OSStatus refuseOpen = noErr;      // opening a stream fails with this status (a busy device)
    std::vector<double> refusedRates; // opening at one of these rates fails
    OSStatus refuseStart = noErr;     // starting a stream fails with this status
    // After this many frames a stream's sound server dies (0: never). It then reports a read
    // error, or with `raceSilently` says nothing and keeps handing over its last buffer as fast
    // as it is called: only the pace shows it.
    std::uint64_t failAfterFrames = 0;
    bool raceSilently = false;
};

struct VirtualInputConfig {
    QString name = QStringLiteral("Virtual Input");
    std::uint32_t channels = 2;                // 1 to 32
    double sampleRate = 48000.0;               // 44100, 48000 or 96000; changeable later
    std::uint32_t periodFrames = 480;          // the period the "device" grants its streams
    std::vector<VirtualSignal> channelSignals; // per channel; channels beyond the list are silent
    bool manual = false;                       // frames come from pump() instead of a paced thread
    VirtualInputFaults faults;
    // Paces a paced device (the system's clock when null). Streams of paced devices, and of a
    // manual device given a clock, check their pace against it as capture streams do.
    MonotonicClock* clock = nullptr;
};

// An input device without hardware. Paced devices deliver one period at a time from a thread
// that keeps real time; manual devices deliver only when a test calls pump(), on its thread.
// Every stream starts at frame 0 of the signals.
class VirtualInputDevice : public std::enable_shared_from_this<VirtualInputDevice> {
public:
    static constexpr std::uint32_t kMaxChannels = 32;
    static const std::vector<double>& supportedRates();

    explicit VirtualInputDevice(VirtualInputConfig config); // throws std::invalid_argument
    ~VirtualInputDevice();

    const VirtualInputConfig& config() const { return m_config; }
    double sampleRate() const { return m_sampleRate.load(); }
    bool setSampleRate(double rate); // false for a rate the device does not offer
    VirtualSignal signal(std::uint32_t channel) const;
    void setSignal(std::uint32_t channel, const VirtualSignal& signal);
    // Streams opened (or started) from now on act the faults out.
    void setFaults(const VirtualInputFaults& faults);
    VirtualInputFaults faults() const;

    // The stream keeps the device alive (it may be unplugged from the registry meanwhile);
    // the device must be owned by a shared_ptr. Throws AudioStreamError when the faults say so.
    std::unique_ptr<AudioInputStream> openStream(AudioInputStream::Sink& sink);

    // Manual devices: generates `frames` frames (any count) and delivers them to the started
    // stream in one call, on the calling thread. False when no stream of this device runs.
    bool pump(std::uint32_t frames);
    // Makes every open stream of this device fail, as a pulled cable would.
    void failStreams();

private:
    class Stream;
    friend class Stream;
    void attach(Stream* stream);
    void detach(Stream* stream);

    VirtualInputConfig m_config;
    std::atomic<double> m_sampleRate;
    mutable std::mutex m_configMutex; // guards the signals and faults of m_config
    std::mutex m_streamsMutex;        // guards m_streams; pump holds it while delivering
    std::vector<Stream*> m_streams;
};

} // namespace koru::platform
