#include "platform/audio/VirtualInputDevice.h"

#include "platform/audio/AudioStreamError.h"
#include "platform/audio/PacedThread.h"
#include "platform/audio/StreamPaceWatch.h"

#include <fmt/format.h>

#include <algorithm>
#include <optional>
#include <stdexcept>

namespace koru::platform {

// One open stream: its own frame counter and preallocated channel buffers.
class VirtualInputDevice::Stream final : public AudioInputStream {
public:
    static constexpr std::uint32_t kManualChunk = 8192;

    Stream(std::shared_ptr<VirtualInputDevice> owner, AudioInputStream::Sink& sink)
        : m_owner(std::move(owner)), m_device(*m_owner), m_sink(sink),
          m_channels(m_device.m_config.channels), m_rate(m_device.sampleRate()),
          m_period(m_device.m_config.periodFrames),
          m_capacity(m_device.m_config.manual ? std::max(kManualChunk, m_period) : m_period),
          m_storage(std::size_t(m_channels) * m_capacity), m_pointers(m_channels),
          m_thread(clock()) {
        {
            std::lock_guard lock(m_device.m_configMutex);
            m_signals.resize(m_channels);
            for (std::uint32_t c = 0; c < m_channels && c < m_device.m_config.channelSignals.size();
                 ++c)
                m_signals[c] = m_device.m_config.channelSignals[c];
            m_failAfter = m_device.m_config.faults.failAfterFrames;
            m_raceSilently = m_device.m_config.faults.raceSilently;
        }
        if (!m_device.m_config.manual || m_device.m_config.clock)
            m_pace.emplace(clock(), m_rate);
        for (std::uint32_t c = 0; c < m_channels; ++c)
            m_pointers[c] = m_storage.data() + std::size_t(c) * m_capacity;
        m_device.attach(this);
    }

    ~Stream() override {
        stop();
        m_device.detach(this);
    }

    void start() override {
        if (const OSStatus refused = m_device.faults().refuseStart; refused != noErr)
            throw AudioStreamError(refused, fmt::format("\"{}\" refused to start",
                                                        m_device.m_config.name.toStdString()));
        if (m_pace)
            m_pace->reset();
        m_started.store(true);
        if (m_device.m_config.manual)
            return;
        m_thread.start(m_rate, m_period, [this] { produce(m_period); });
    }

    void stop() noexcept override {
        m_thread.stop();
        if (!m_device.m_config.manual) {
            m_started.store(false);
            return;
        }
        // Waits out a pump that is delivering right now.
        std::lock_guard lock(m_device.m_streamsMutex);
        m_started.store(false);
    }

    std::uint32_t channels() const override { return m_channels; }
    double sampleRate() const override { return m_rate; }
    std::uint32_t periodFrames() const override { return m_period; }
    bool started() const { return m_started.load(); }

    // Audio side: no allocation; the buffers were sized at open.
    void produce(std::uint32_t frames) noexcept {
        while (frames > 0 && !failed()) {
            const bool serverDead = m_failAfter != 0 && m_frame >= m_failAfter;
            if (serverDead && !m_raceSilently) {
                markFailed(kReadError);
                return;
            }
            std::uint32_t n = std::min(frames, m_capacity);
            if (m_failAfter != 0 && !serverDead)
                n = std::uint32_t(std::min<std::uint64_t>(n, m_failAfter - m_frame));
            if (m_pace && !m_pace->admit(n)) {
                markFailed(kFasterThanRealTime);
                return;
            }
            if (!serverDead)
                render(n);
            m_frame += n;
            m_sink.deliver(m_pointers.data(), m_channels, n);
            frames -= n;
        }
    }

private:
    MonotonicClock& clock() const {
        MonotonicClock* own = m_device.m_config.clock;
        return own ? *own : MonotonicClock::system();
    }

    void render(std::uint32_t frames) noexcept {
        for (std::uint32_t c = 0; c < m_channels; ++c)
            m_signals[c].fill(m_pointers[c], m_frame, frames, m_rate);
    }

    std::shared_ptr<VirtualInputDevice> m_owner;
    VirtualInputDevice& m_device;
    AudioInputStream::Sink& m_sink;
    const std::uint32_t m_channels;
    const double m_rate;
    const std::uint32_t m_period;
    const std::uint32_t m_capacity;
    std::vector<VirtualSignal> m_signals;
    std::vector<float> m_storage;
    std::vector<float*> m_pointers;
    std::uint64_t m_frame = 0;
    std::uint64_t m_failAfter = 0;
    bool m_raceSilently = false;
    std::optional<StreamPaceWatch> m_pace;
    std::atomic<bool> m_started{false};
    PacedThread m_thread;
};

const std::vector<double>& VirtualInputDevice::supportedRates() {
    static const std::vector<double> rates{44100.0, 48000.0, 96000.0};
    return rates;
}

VirtualInputDevice::VirtualInputDevice(VirtualInputConfig config)
    : m_config(std::move(config)), m_sampleRate(m_config.sampleRate) {
    if (m_config.channels < 1 || m_config.channels > kMaxChannels)
        throw std::invalid_argument("a virtual input has 1 to 32 channels");
    const auto& rates = supportedRates();
    if (std::find(rates.begin(), rates.end(), m_config.sampleRate) == rates.end())
        throw std::invalid_argument("a virtual input runs at 44100, 48000 or 96000 Hz");
    if (m_config.periodFrames < 16 || m_config.periodFrames > 16384)
        throw std::invalid_argument("a virtual input's period is 16 to 16384 frames");
}

VirtualInputDevice::~VirtualInputDevice() = default;

bool VirtualInputDevice::setSampleRate(double rate) {
    const auto& rates = supportedRates();
    if (std::find(rates.begin(), rates.end(), rate) == rates.end())
        return false;
    m_sampleRate.store(rate);
    return true;
}

VirtualSignal VirtualInputDevice::signal(std::uint32_t channel) const {
    std::lock_guard lock(m_configMutex);
    return channel < m_config.channelSignals.size() ? m_config.channelSignals[channel]
                                                    : VirtualSignal{};
}

void VirtualInputDevice::setSignal(std::uint32_t channel, const VirtualSignal& signal) {
    std::lock_guard lock(m_configMutex);
    if (channel >= m_config.channels)
        return;
    if (m_config.channelSignals.size() <= channel)
        m_config.channelSignals.resize(channel + 1);
    m_config.channelSignals[channel] = signal; // streams opened from now on play it
}

void VirtualInputDevice::setFaults(const VirtualInputFaults& faults) {
    std::lock_guard lock(m_configMutex);
    m_config.faults = faults;
}

VirtualInputFaults VirtualInputDevice::faults() const {
    std::lock_guard lock(m_configMutex);
    return m_config.faults;
}

std::unique_ptr<AudioInputStream> VirtualInputDevice::openStream(AudioInputStream::Sink& sink) {
    const VirtualInputFaults now = faults();
    const std::string name = m_config.name.toStdString();
    if (now.refuseOpen != noErr)
        throw AudioStreamError(now.refuseOpen, fmt::format("\"{}\" is busy", name));
    const double rate = sampleRate();
    if (std::find(now.refusedRates.begin(), now.refusedRates.end(), rate) != now.refusedRates.end())
        throw AudioStreamError(kAudioDeviceUnsupportedFormatError,
                               fmt::format("\"{}\" refused {} Hz", name, rate));
    return std::make_unique<Stream>(shared_from_this(), sink);
}

bool VirtualInputDevice::pump(std::uint32_t frames) {
    std::lock_guard lock(m_streamsMutex);
    bool delivered = false;
    for (Stream* stream : m_streams) {
        if (!stream->started())
            continue;
        stream->produce(frames);
        delivered = true;
    }
    return delivered;
}

void VirtualInputDevice::failStreams() {
    std::lock_guard lock(m_streamsMutex);
    for (Stream* stream : m_streams)
        stream->markFailed();
}

void VirtualInputDevice::attach(Stream* stream) {
    std::lock_guard lock(m_streamsMutex);
    m_streams.push_back(stream);
}

void VirtualInputDevice::detach(Stream* stream) {
    std::lock_guard lock(m_streamsMutex);
    std::erase(m_streams, stream);
}

} // namespace koru::platform
