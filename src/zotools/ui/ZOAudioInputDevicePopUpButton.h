#pragma once

#include "platform/notifications/NotificationCenter.h"
#include "zotools/ui/ZOAudioDevicePopUpButton.h"

class ZOAudioHardwareSystem;

// The input-device pop-up: lists the devices with inputs and follows the device list, keeping
// the stored selection selected while that device is there.
class ZOAudioInputDevicePopUpButton : public ZOAudioDevicePopUpButton {
public:
    explicit ZOAudioInputDevicePopUpButton(QWidget* parent = nullptr);
    ZOAudioInputDevicePopUpButton(QWidget* parent, ZOAudioHardwareSystem& system);
    ~ZOAudioInputDevicePopUpButton() override;

    // Refills the items from the input devices, then selects the stored device.
    void awakeFromNib();

private:
    ZOAudioHardwareSystem& m_system;
    koru::platform::NotificationCenter::ObserverId m_observer = 0;
};
