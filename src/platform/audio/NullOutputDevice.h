#pragma once

#include "platform/audio/AudioOutputStream.h"
#include "platform/audio/AudioTypes.h"
#include "platform/audio/MonotonicClock.h"

#include <QString>

#include <atomic>
#include <cstdint>
#include <memory>
#include <vector>

namespace koru::platform {

// An output device that plays into nothing, at real-time pace on its clock: generators keep
// running (and teeing into the engine) on a machine without a sound card.
class NullOutputDevice {
public:
    static constexpr std::uint32_t kChannels = 2;
    static constexpr std::uint32_t kPeriodFrames = 512;

    explicit NullOutputDevice(QString name = QStringLiteral("Null Output"),
                              MonotonicClock& clock = MonotonicClock::system());

    const QString& name() const { return m_name; }
    double sampleRate() const { return m_sampleRate.load(); }
    bool setSampleRate(double rate); // 44100, 48000 or 96000
    // Tests: streams started from now on fail to start with this status (noErr: they start).
    void setRefuseStart(OSStatus status) { m_refuseStart.store(status); }

    std::unique_ptr<AudioOutputStream> openStream(std::uint32_t channels,
                                                  AudioOutputStream::Source& source);

private:
    QString m_name;
    MonotonicClock& m_clock;
    std::atomic<double> m_sampleRate{48000.0};
    std::atomic<OSStatus> m_refuseStart{noErr};
};

} // namespace koru::platform
