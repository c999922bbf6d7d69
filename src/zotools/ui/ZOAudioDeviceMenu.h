#pragma once

#include "platform/audio/AudioTypes.h"
#include "platform/notifications/NotificationCenter.h"

#include <QMenu>

#include <functional>

class ZOAudioHardwareSystem;

// A menu of audio devices titled "Audio Device": one checkable item per device, its data the
// device ID. It rebuilds itself whenever the device list changes, keeping the checked device
// checked while it is still there. The plain menu lists every device; the input and output
// menus list only devices with inputs or outputs.
class ZOAudioDeviceMenu : public QMenu {
public:
    // Called with the chosen device's ID.
    using Action = std::function<void(AudioObjectID deviceID)>;

    explicit ZOAudioDeviceMenu(QWidget* parent = nullptr);
    explicit ZOAudioDeviceMenu(Action action, QWidget* parent = nullptr);
    ~ZOAudioDeviceMenu() override;

    void buildMenu();
    void buildMenuWithAll(bool all, bool onlyInput);
    // The device list changed: rebuild and check the previously checked device again.
    void propertyListener();
    void checkDeviceID(AudioObjectID id);
    AudioObjectID checkedDeviceID() const; // 0 when none is checked

protected:
    // The subclasses' filters; the base constructor cannot call an override, so they pass it.
    ZOAudioDeviceMenu(bool all, bool onlyInput, Action action, QWidget* parent,
                      ZOAudioHardwareSystem& system);

public:
    // Tests hand in a system over a registry of their own.
    ZOAudioDeviceMenu(Action action, QWidget* parent, ZOAudioHardwareSystem& system);

private:
    ZOAudioHardwareSystem& m_system;
    bool m_all;
    bool m_onlyInput;
    Action m_action;
    koru::platform::NotificationCenter::ObserverId m_observer = 0;
};
