#include "engine/ui/KOAudioDeviceMenus.h"

#include "engine/KOAudioDevice.h"

#include <QAction>
#include <QMenu>

std::unique_ptr<QMenu> KOAudioDeviceMenus::nativeAndAuxChannelMenu(KOAudioDevice& device) {
    return menuWithEntries(device.nativeAndAuxChannelMenuEntries());
}

std::unique_ptr<QMenu> KOAudioDeviceMenus::inputChannelMenu(KOAudioDevice& device) {
    return menuWithEntries(device.inputChannelMenuEntries());
}

std::unique_ptr<QMenu> KOAudioDeviceMenus::summingTableMenu(KOAudioDevice& device,
                                                            const QString& column, int row,
                                                            int* selected) {
    if (selected != nullptr) {
        *selected = device.summingTableValue(column, row).toInt();
    }
    return nativeAndAuxChannelMenu(device);
}

std::unique_ptr<QMenu>
KOAudioDeviceMenus::menuWithEntries(const koru::ChannelMenuCache::Entries& entries) {
    auto menu = std::make_unique<QMenu>(QString::fromLatin1(kMenuTitle));
    for (const koru::ChannelMenuCache::Entry& entry : entries) {
        QAction* item = menu->addAction(entry.title);
        item->setData(entry.tag);
        // Pop-up buttons tick the channel they show.
        item->setCheckable(true);
    }
    return menu;
}
