#include "framework/InstrumentAudioDevice.h"

#include "engine/KOAudioDevice.h"
#include "engine/ui/KOAudioDeviceMenus.h"

#include <QMenu>

#include <atomic>

namespace koru::framework {

namespace {

// The process's audio device.
class SharedAudioDevice final : public InstrumentAudioDevice {
public:
    std::uint32_t inputDeviceObjectID() const override { return device().audioObjectID(); }
    QString currentAudioDeviceName() const override { return device().name(); }
    QString currentAudioDeviceUID() const override { return device().UID(); }
    QStringList channelNamesArray() const override { return device().channelNamesArray(); }
    std::uint32_t totalNumberChannels() const override { return device().totalNumberChannels(); }
    std::unique_ptr<QMenu> inputChannelMenu() const override {
        return KOAudioDeviceMenus::inputChannelMenu(device());
    }

private:
    static KOAudioDevice& device() { return KOAudioDevice::sharedAudioDevice(); }
};

std::atomic<InstrumentAudioDevice*> installed{nullptr};

} // namespace

InstrumentAudioDevice& InstrumentAudioDevice::shared() {
    if (InstrumentAudioDevice* device = installed.load(std::memory_order_acquire))
        return *device;
    static auto* fallback = new SharedAudioDevice;
    return *fallback;
}

void InstrumentAudioDevice::setShared(InstrumentAudioDevice* device) {
    installed.store(device, std::memory_order_release);
}

} // namespace koru::framework
