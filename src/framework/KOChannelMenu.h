#pragma once

#include "platform/audio/AudioTypes.h"

#include <QMenu>

namespace koru::platform {
class DeviceRegistry;
}

// The channels of one audio device, for a channel choice on any device: one item per channel
// name, tag = channel index from 0. This menu and the input menu list the input side, the
// output menu the output side.
class KOChannelMenu : public QMenu {
public:
    explicit KOChannelMenu(QWidget* parent = nullptr);
    // Tests hand in a registry of their own.
    KOChannelMenu(koru::platform::DeviceRegistry& registry, QWidget* parent = nullptr);

    AudioObjectID audioObjectID() const { return m_objectID; }
    // Rebuilds the items; no device (0) leaves the menu empty rather than listing the previous
    // device's channels.
    void setAudioObjectID(AudioObjectID id);
    void buildMenu();
    virtual bool onlyInputs() const { return true; }

private:
    koru::platform::DeviceRegistry* m_registry; // null: the process's registry
    AudioObjectID m_objectID = 0;
};
