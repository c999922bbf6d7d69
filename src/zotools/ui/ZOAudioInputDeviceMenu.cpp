#include "zotools/ui/ZOAudioInputDeviceMenu.h"

#include "zotools/ZOAudioHardwareSystem.h"

ZOAudioInputDeviceMenu::ZOAudioInputDeviceMenu(QWidget* parent)
    : ZOAudioInputDeviceMenu(Action{}, parent) {}

ZOAudioInputDeviceMenu::ZOAudioInputDeviceMenu(Action action, QWidget* parent)
    : ZOAudioInputDeviceMenu(std::move(action), parent,
                             ZOAudioHardwareSystem::sharedAudioHardwareSystem()) {}

ZOAudioInputDeviceMenu::ZOAudioInputDeviceMenu(Action action, QWidget* parent,
                                               ZOAudioHardwareSystem& system)
    : ZOAudioDeviceMenu(false, true, std::move(action), parent, system) {}
