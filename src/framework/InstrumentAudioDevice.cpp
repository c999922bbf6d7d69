#include "framework/InstrumentAudioDevice.h"

#include <QMenu>

#include <atomic>

namespace koru::framework {

namespace {

// Stands in while no audio device is open.
class NoAudioDevice final : public InstrumentAudioDevice {
public:
    std::uint32_t inputDeviceObjectID() const override { return 0; }
    QString currentAudioDeviceName() const override { return {}; }
    QString currentAudioDeviceUID() const override { return {}; }
    QStringList channelNamesArray() const override { return {}; }
    std::uint32_t totalNumberChannels() const override { return 0; }
    std::unique_ptr<QMenu> inputChannelMenu() const override {
        return std::make_unique<QMenu>(QStringLiteral("Input Channel"));
    }
};

std::atomic<InstrumentAudioDevice*> installed{nullptr};

} // namespace

InstrumentAudioDevice& InstrumentAudioDevice::shared() {
    if (InstrumentAudioDevice* device = installed.load(std::memory_order_acquire))
        return *device;
    static auto* fallback = new NoAudioDevice;
    return *fallback;
}

void InstrumentAudioDevice::setShared(InstrumentAudioDevice* device) {
    installed.store(device, std::memory_order_release);
}

} // namespace koru::framework
