#include "engine/ChannelMenuCache.h"

namespace koru {

const ChannelMenuCache::Entries& ChannelMenuCache::nativeAndAuxEntries(const Builder& build) {
    if (!mNativeAndAux) {
        mNativeAndAux = build();
    }
    return *mNativeAndAux;
}

const ChannelMenuCache::Entries& ChannelMenuCache::inputEntries(const Builder& buildNativeAndAux,
                                                                const Builder& buildMore) {
    if (!mInput) {
        Entries entries = nativeAndAuxEntries(buildNativeAndAux);
        const Entries more = buildMore();
        entries.insert(entries.end(), more.begin(), more.end());
        mInput = std::move(entries);
    }
    return *mInput;
}

void ChannelMenuCache::clear() {
    mNativeAndAux.reset();
    mInput.reset();
}

} // namespace koru
