#include "zotools/ui/ZOAudioInputDevicePopUpButton.h"

#include "zotools/ZOAudioHardwareSystem.h"

ZOAudioInputDevicePopUpButton::ZOAudioInputDevicePopUpButton(QWidget* parent)
    : ZOAudioInputDevicePopUpButton(parent, ZOAudioHardwareSystem::sharedAudioHardwareSystem()) {}

ZOAudioInputDevicePopUpButton::ZOAudioInputDevicePopUpButton(QWidget* parent,
                                                             ZOAudioHardwareSystem& system)
    : ZOAudioDevicePopUpButton(parent), m_system(system) {
    m_onlyInput = true;
    awakeFromNib();
    m_observer =
        m_system.addObserver([this](const koru::platform::Notification&) { awakeFromNib(); });
}

ZOAudioInputDevicePopUpButton::~ZOAudioInputDevicePopUpButton() {
    m_system.removeObserver(m_observer);
}

void ZOAudioInputDevicePopUpButton::awakeFromNib() {
    const QSignalBlocker quiet(this); // a refill is not the user's choice
    clear();
    for (const ZOAudioHardwareDevice& device : m_system.devices()) {
        if (device.hasInputs())
            addItem(device.name(), QVariant::fromValue(device.objectID()));
    }
    setSelectedObjectID(m_selectedDevice);
}
