#include "platform/audio/NullOutputDevice.h"

#include "platform/audio/AudioStreamError.h"
#include "platform/audio/PacedThread.h"
#include "platform/audio/VirtualInputDevice.h"

#include <fmt/format.h>

#include <algorithm>

namespace koru::platform {

namespace {

class NullOutputStream final : public AudioOutputStream {
public:
    NullOutputStream(std::uint32_t channels, double rate, AudioOutputStream::Source& source,
                     MonotonicClock& clock, OSStatus refuseStart, std::string name)
        : m_source(source), m_channels(channels), m_rate(rate),
          m_storage(std::size_t(channels) * NullOutputDevice::kPeriodFrames), m_pointers(channels),
          m_refuseStart(refuseStart), m_name(std::move(name)), m_thread(clock) {
        for (std::uint32_t c = 0; c < channels; ++c)
            m_pointers[c] = m_storage.data() + std::size_t(c) * NullOutputDevice::kPeriodFrames;
    }
    ~NullOutputStream() override { stop(); }

    void start() override {
        if (m_refuseStart != noErr)
            throw AudioStreamError(m_refuseStart, fmt::format("\"{}\" refused to start", m_name));
        m_thread.start(m_rate, NullOutputDevice::kPeriodFrames, [this] {
            m_source.pull(m_pointers.data(), m_channels, NullOutputDevice::kPeriodFrames);
        });
    }
    void stop() noexcept override { m_thread.stop(); }
    std::uint32_t channels() const override { return m_channels; }
    double sampleRate() const override { return m_rate; }
    std::uint32_t periodFrames() const override { return NullOutputDevice::kPeriodFrames; }

private:
    AudioOutputStream::Source& m_source;
    std::uint32_t m_channels;
    double m_rate;
    std::vector<float> m_storage;
    std::vector<float*> m_pointers;
    OSStatus m_refuseStart;
    std::string m_name;
    PacedThread m_thread;
};

} // namespace

NullOutputDevice::NullOutputDevice(QString name, MonotonicClock& clock)
    : m_name(std::move(name)), m_clock(clock) {}

bool NullOutputDevice::setSampleRate(double rate) {
    const auto& rates = VirtualInputDevice::supportedRates();
    if (std::find(rates.begin(), rates.end(), rate) == rates.end())
        return false;
    m_sampleRate.store(rate);
    return true;
}

std::unique_ptr<AudioOutputStream> NullOutputDevice::openStream(std::uint32_t channels,
                                                                AudioOutputStream::Source& source) {
    return std::make_unique<NullOutputStream>(channels, sampleRate(), source, m_clock,
                                              m_refuseStart.load(), m_name.toStdString());
}

} // namespace koru::platform
