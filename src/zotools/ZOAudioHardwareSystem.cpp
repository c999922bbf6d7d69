#include "zotools/ZOAudioHardwareSystem.h"

#include "platform/audio/DeviceRegistry.h"

#include <QCoreApplication>
#include <QThread>

using koru::platform::DeviceRegistry;
using koru::platform::NotificationCenter;

const QString ZOAudioHardwareSystem::kDevicesNotification =
    QStringLiteral("ZOAudioHardwarePropertyNotification_Devices");

ZOAudioHardwareSystem& ZOAudioHardwareSystem::sharedAudioHardwareSystem() {
    static ZOAudioHardwareSystem* system = new ZOAudioHardwareSystem(DeviceRegistry::shared());
    return *system; // lives as long as the process
}

ZOAudioHardwareSystem::ZOAudioHardwareSystem(DeviceRegistry& registry) : m_registry(registry) {
    m_listener = registry.addListListener([this] { devicesChanged(); });
}

ZOAudioHardwareSystem::~ZOAudioHardwareSystem() {
    m_registry.removeListener(m_listener);
}

void ZOAudioHardwareSystem::devicesChanged() {
    // Menus rebuild from the notification: it must arrive on the main thread.
    koru::platform::Notification notification;
    notification.name = kDevicesNotification;
    const QCoreApplication* app = QCoreApplication::instance();
    if (app && QThread::currentThread() != app->thread())
        NotificationCenter::defaultCenter().postOnMainThread(notification);
    else
        NotificationCenter::defaultCenter().post(notification);
}

std::vector<ZOAudioHardwareDevice> ZOAudioHardwareSystem::devices() const {
    std::vector<ZOAudioHardwareDevice> list;
    for (const auto& info : m_registry.devices())
        list.emplace_back(info.id, m_registry);
    return list;
}

AudioObjectID ZOAudioHardwareSystem::deviceForUID(const QString& uid) const {
    return m_registry.deviceForUID(uid);
}

NotificationCenter::ObserverId
ZOAudioHardwareSystem::addObserver(NotificationCenter::Callback callback) {
    return NotificationCenter::defaultCenter().addObserver(kDevicesNotification, nullptr,
                                                           std::move(callback));
}

void ZOAudioHardwareSystem::removeObserver(NotificationCenter::ObserverId id) {
    NotificationCenter::defaultCenter().removeObserver(id);
}
