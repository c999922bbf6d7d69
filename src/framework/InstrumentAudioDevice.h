#pragma once

#include <QString>
#include <QStringList>

#include <cstdint>
#include <memory>

class QMenu;

namespace koru::framework {

// The little the instrument bases need to know about the audio device: its identity, its channel
// names and the channel menu. The shared instance forwards to the process's audio device; tests
// install a fake. Main thread only.
class InstrumentAudioDevice {
public:
    virtual ~InstrumentAudioDevice() = default;

    // The installed device, else one that forwards to the process's audio device.
    static InstrumentAudioDevice& shared();
    // Installs `device` (not owned) until it is replaced; null goes back to the process's device.
    static void setShared(InstrumentAudioDevice* device);

    virtual std::uint32_t inputDeviceObjectID() const = 0;
    virtual QString currentAudioDeviceName() const = 0;
    virtual QString currentAudioDeviceUID() const = 0;
    // One name per engine channel, in channel order.
    virtual QStringList channelNamesArray() const = 0;
    virtual std::uint32_t totalNumberChannels() const = 0;
    bool isValidChannelIndex(qint64 index) const {
        return index >= 0 && index < static_cast<qint64>(totalNumberChannels());
    }
    // A fresh copy of the device's channel menu: titled "Input Channel", one checkable item per
    // channel whose data is the channel index.
    virtual std::unique_ptr<QMenu> inputChannelMenu() const = 0;
};

} // namespace koru::framework
