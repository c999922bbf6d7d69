#pragma once

#include "platform/audio/AudioTypes.h"
#include "platform/notifications/NotificationCenter.h"
#include "zotools/ZOAudioHardwareDevice.h"

#include <QString>

#include <vector>

namespace koru::platform {
class DeviceRegistry;
}

// The device list, lookups by UID and the notification "ZOAudioHardwarePropertyNotification_
// Devices" (object nil), posted on the main thread whenever devices come or go.
class ZOAudioHardwareSystem {
public:
    static const QString kDevicesNotification;

    static ZOAudioHardwareSystem& sharedAudioHardwareSystem();
    explicit ZOAudioHardwareSystem(koru::platform::DeviceRegistry& registry);
    ~ZOAudioHardwareSystem();
    ZOAudioHardwareSystem(const ZOAudioHardwareSystem&) = delete;
    ZOAudioHardwareSystem& operator=(const ZOAudioHardwareSystem&) = delete;

    std::vector<ZOAudioHardwareDevice> devices() const;
    AudioObjectID deviceForUID(const QString& uid) const; // 0 when no such device is present

    koru::platform::NotificationCenter::ObserverId
    addObserver(koru::platform::NotificationCenter::Callback callback);
    void removeObserver(koru::platform::NotificationCenter::ObserverId id);

    koru::platform::DeviceRegistry& registry() const { return m_registry; }

private:
    void devicesChanged();

    koru::platform::DeviceRegistry& m_registry;
    std::uint64_t m_listener = 0;
};
