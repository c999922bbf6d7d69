#pragma once

#include "zotools/ui/ZOAudioDeviceMenu.h"

// A device menu of the devices with outputs only.
class ZOAudioOutputDeviceMenu : public ZOAudioDeviceMenu {
public:
    explicit ZOAudioOutputDeviceMenu(QWidget* parent = nullptr);
    explicit ZOAudioOutputDeviceMenu(Action action, QWidget* parent = nullptr);
    ZOAudioOutputDeviceMenu(Action action, QWidget* parent, ZOAudioHardwareSystem& system);
};
