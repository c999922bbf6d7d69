#include "zotools/ui/ZOAudioDevicePopUpButton.h"

ZOAudioDevicePopUpButton::ZOAudioDevicePopUpButton(QWidget* parent) : QComboBox(parent) {}

void ZOAudioDevicePopUpButton::setSelectedObjectID(AudioObjectID id) {
    m_selectedDevice = id;
    setCurrentIndex(findData(QVariant::fromValue(id)));
}

AudioObjectID ZOAudioDevicePopUpButton::selectedObjectID() const {
    return currentIndex() < 0 ? 0 : currentData().toUInt();
}
