#pragma once

#include "zotools/ui/ZOAudioDeviceMenu.h"

// A device menu of the devices with inputs only.
class ZOAudioInputDeviceMenu : public ZOAudioDeviceMenu {
public:
    explicit ZOAudioInputDeviceMenu(QWidget* parent = nullptr);
    explicit ZOAudioInputDeviceMenu(Action action, QWidget* parent = nullptr);
    ZOAudioInputDeviceMenu(Action action, QWidget* parent, ZOAudioHardwareSystem& system);
};
