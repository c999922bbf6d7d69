#include "zotools/ui/ZOAudioDeviceMenu.h"

#include "zotools/ZOAudioHardwareSystem.h"

#include <QAction>

ZOAudioDeviceMenu::ZOAudioDeviceMenu(QWidget* parent) : ZOAudioDeviceMenu(Action{}, parent) {}

ZOAudioDeviceMenu::ZOAudioDeviceMenu(Action action, QWidget* parent)
    : ZOAudioDeviceMenu(true, true, std::move(action), parent,
                        ZOAudioHardwareSystem::sharedAudioHardwareSystem()) {}

ZOAudioDeviceMenu::ZOAudioDeviceMenu(Action action, QWidget* parent, ZOAudioHardwareSystem& system)
    : ZOAudioDeviceMenu(true, true, std::move(action), parent, system) {}

ZOAudioDeviceMenu::ZOAudioDeviceMenu(bool all, bool onlyInput, Action action, QWidget* parent,
                                     ZOAudioHardwareSystem& system)
    : QMenu(QStringLiteral("Audio Device"), parent), m_system(system), m_all(all),
      m_onlyInput(onlyInput), m_action(std::move(action)) {
    buildMenu();
    m_observer =
        m_system.addObserver([this](const koru::platform::Notification&) { propertyListener(); });
}

ZOAudioDeviceMenu::~ZOAudioDeviceMenu() {
    m_system.removeObserver(m_observer);
}

void ZOAudioDeviceMenu::buildMenu() {
    buildMenuWithAll(m_all, m_onlyInput);
}

void ZOAudioDeviceMenu::buildMenuWithAll(bool all, bool onlyInput) {
    for (const ZOAudioHardwareDevice& device : m_system.devices()) {
        if (!all && !(onlyInput ? device.hasInputs() : device.hasOutputs()))
            continue;
        QAction* item = addAction(device.name());
        item->setCheckable(true);
        item->setData(QVariant::fromValue(device.objectID()));
        const AudioObjectID id = device.objectID();
        connect(item, &QAction::triggered, this, [this, id] {
            if (m_action)
                m_action(id);
        });
    }
}

void ZOAudioDeviceMenu::propertyListener() {
    const AudioObjectID remembered = checkedDeviceID();
    for (QAction* item : actions()) {
        removeAction(item);
        delete item;
    }
    buildMenu();
    if (remembered != 0)
        checkDeviceID(remembered);
}

void ZOAudioDeviceMenu::checkDeviceID(AudioObjectID id) {
    for (QAction* item : actions())
        item->setChecked(item->data().toUInt() == id);
}

AudioObjectID ZOAudioDeviceMenu::checkedDeviceID() const {
    for (const QAction* item : actions()) {
        if (item->isChecked())
            return item->data().toUInt();
    }
    return 0;
}
