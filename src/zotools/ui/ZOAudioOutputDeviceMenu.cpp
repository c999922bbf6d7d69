#include "zotools/ui/ZOAudioOutputDeviceMenu.h"

#include "zotools/ZOAudioHardwareSystem.h"

ZOAudioOutputDeviceMenu::ZOAudioOutputDeviceMenu(QWidget* parent)
    : ZOAudioOutputDeviceMenu(Action{}, parent) {}

ZOAudioOutputDeviceMenu::ZOAudioOutputDeviceMenu(Action action, QWidget* parent)
    : ZOAudioOutputDeviceMenu(std::move(action), parent,
                              ZOAudioHardwareSystem::sharedAudioHardwareSystem()) {}

ZOAudioOutputDeviceMenu::ZOAudioOutputDeviceMenu(Action action, QWidget* parent,
                                                 ZOAudioHardwareSystem& system)
    : ZOAudioDeviceMenu(false, false, std::move(action), parent, system) {}
