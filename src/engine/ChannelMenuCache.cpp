#include "engine/ChannelMenuCache.h"

#include <QAction>
#include <QMenu>

namespace koru {

std::unique_ptr<QMenu> ChannelMenuCache::menuWithEntries(const Entries& entries) {
    auto menu = std::make_unique<QMenu>(QString::fromLatin1(kMenuTitle));
    for (const Entry& entry : entries) {
        QAction* item = menu->addAction(entry.title);
        item->setData(entry.tag);
        // Pop-up buttons tick the channel they show.
        item->setCheckable(true);
    }
    return menu;
}

const ChannelMenuCache::Entries& ChannelMenuCache::nativeAndAuxEntries(const Builder& build) {
    if (!mNativeAndAux) {
        mNativeAndAux = build();
    }
    return *mNativeAndAux;
}

std::unique_ptr<QMenu> ChannelMenuCache::nativeAndAuxMenu(const Builder& build) {
    return menuWithEntries(nativeAndAuxEntries(build));
}

std::unique_ptr<QMenu> ChannelMenuCache::inputMenu(const Builder& buildNativeAndAux,
                                                   const Builder& buildMore) {
    if (!mInput) {
        Entries entries = nativeAndAuxEntries(buildNativeAndAux);
        const Entries more = buildMore();
        entries.insert(entries.end(), more.begin(), more.end());
        mInput = std::move(entries);
    }
    return menuWithEntries(*mInput);
}

void ChannelMenuCache::clear() {
    mNativeAndAux.reset();
    mInput.reset();
}

} // namespace koru
