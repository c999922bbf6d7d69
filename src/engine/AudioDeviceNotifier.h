#pragma once

#include <QString>

#include <functional>

namespace koru {

// What the audio device asks of the program's user-notification centre: clip batches after
// each collector pass, a line when the hardware changes, and the hooks through which the centre
// names channels and reads or flips the clip switch. The centre lives above the engine, so the
// engine sees only this.
//
// The clip calls come from the shared background queue; the hooks may be called from any thread.
class AudioDeviceNotifier {
public:
    using ChannelNameProvider = std::function<QString(unsigned channel)>;
    using ClipSwitchReader = std::function<bool()>;
    using ClipSwitchWriter = std::function<void(bool)>;

    virtual ~AudioDeviceNotifier() = default;

    virtual void addClippingChannelToNextGrowlNotifications(unsigned channel) = 0;
    virtual void runGrowlNotificationsForClippingChannels() = 0;
    virtual void postAudioHardwareNotification(const QString& text) = 0;

    // Empty functions unplug the hooks.
    virtual void setChannelNameProvider(ChannelNameProvider provider) = 0;
    virtual void setClipSwitch(ClipSwitchReader reader, ClipSwitchWriter writer) = 0;
};

} // namespace koru
