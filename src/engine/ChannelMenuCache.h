#pragma once

#include <QString>

#include <functional>
#include <memory>
#include <optional>
#include <vector>

class QMenu;

namespace koru {

// The two channel menus the audio device hands out, kept as (title, tag) entries: a widget menu
// cannot be copied, and every pop-up button needs a menu of its own, so each call builds a
// fresh QMenu (caller-owned) from the cached entries. Each item is checkable, has no action and
// carries its channel index as tag in QAction::data(). Main thread only.
class ChannelMenuCache {
public:
    static constexpr const char* kMenuTitle = "Input Channel";

    struct Entry {
        QString title;
        int tag = 0;
        bool operator==(const Entry&) const = default;
    };
    using Entries = std::vector<Entry>;
    using Builder = std::function<Entries()>;

    // The hardware and auxiliary channels; `build` runs when nothing is cached.
    std::unique_ptr<QMenu> nativeAndAuxMenu(const Builder& build);
    // The native-and-auxiliary entries followed by those `buildMore` adds (summing channels).
    std::unique_ptr<QMenu> inputMenu(const Builder& buildNativeAndAux, const Builder& buildMore);
    // Drops both. (Also when the cached native menu is empty: a menu built while no device had
    // channels must not outlive the device change that brings some.)
    void clear();
    bool isCached() const { return mNativeAndAux.has_value(); }

    static std::unique_ptr<QMenu> menuWithEntries(const Entries& entries);

private:
    const Entries& nativeAndAuxEntries(const Builder& build);

    std::optional<Entries> mNativeAndAux;
    std::optional<Entries> mInput;
};

} // namespace koru
