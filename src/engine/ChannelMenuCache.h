#pragma once

#include <QString>

#include <functional>
#include <optional>
#include <vector>

namespace koru {

// The entries of the two channel menus the audio device hands out, as (title, tag) pairs, the
// tag being the channel index. They are cached because naming every channel walks the patch;
// the widgets are built from them above the engine. Main thread only.
class ChannelMenuCache {
public:
    struct Entry {
        QString title;
        int tag = 0;
        bool operator==(const Entry&) const = default;
    };
    using Entries = std::vector<Entry>;
    using Builder = std::function<Entries()>;

    // The hardware and auxiliary channels; `build` runs when nothing is cached.
    const Entries& nativeAndAuxEntries(const Builder& build);
    // The native-and-auxiliary entries followed by those `buildMore` adds (summing channels).
    const Entries& inputEntries(const Builder& buildNativeAndAux, const Builder& buildMore);
    // Drops both. (Also when the cached native entries are empty: entries built while no device
    // had channels must not outlive the device change that brings some.)
    void clear();
    bool isCached() const { return mNativeAndAux.has_value(); }

private:
    std::optional<Entries> mNativeAndAux;
    std::optional<Entries> mInput;
};

} // namespace koru
