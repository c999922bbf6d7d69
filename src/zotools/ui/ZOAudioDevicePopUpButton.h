#pragma once

#include "platform/audio/AudioTypes.h"

#include <QComboBox>

// A pop-up of audio devices whose item data is the device ID.
class ZOAudioDevicePopUpButton : public QComboBox {
public:
    explicit ZOAudioDevicePopUpButton(QWidget* parent = nullptr);

    // Stores the ID and selects the item that carries it (none when no item does).
    void setSelectedObjectID(AudioObjectID id);
    AudioObjectID selectedObjectID() const; // the selected item's ID, 0 without a selection

protected:
    AudioObjectID m_selectedDevice = 0;
    bool m_onlyInput = false;
};
