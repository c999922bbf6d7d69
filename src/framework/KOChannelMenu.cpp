#include "framework/KOChannelMenu.h"

#include "framework/KOMenuAdditions.h"
#include "zotools/ZOAudioHardwareDevice.h"

KOChannelMenu::KOChannelMenu(QWidget* parent) : QMenu(parent), m_registry(nullptr) {}

KOChannelMenu::KOChannelMenu(koru::platform::DeviceRegistry& registry, QWidget* parent)
    : QMenu(parent), m_registry(&registry) {}

void KOChannelMenu::setAudioObjectID(AudioObjectID id) {
    m_objectID = id;
    buildMenu();
}

void KOChannelMenu::buildMenu() {
    clear(); // deletes the items it owns
    if (m_objectID == 0)
        return;
    const ZOAudioHardwareDevice device = m_registry ? ZOAudioHardwareDevice(m_objectID, *m_registry)
                                                    : ZOAudioHardwareDevice(m_objectID);
    const QStringList names = device.channelNamesOfInput(onlyInputs());
    for (qsizetype index = 0; index < names.size(); ++index)
        KOMenuAdditions::addItemWithTitle(*this, names[index], qint64(index));
}
