#pragma once

#include "engine/ChannelMenuCache.h"

#include <QString>

#include <memory>

class KOAudioDevice;
class QMenu;

// The audio device's channel menus as widgets. A menu cannot be copied and every pop-up button
// needs one of its own, so each call builds a fresh menu (caller-owned) from the entries the
// device caches. Each item is checkable, has no action and carries its channel index as tag in
// QAction::data(). Main thread only.
class KOAudioDeviceMenus {
public:
    static constexpr const char* kMenuTitle = "Input Channel";

    // The hardware and auxiliary channels.
    static std::unique_ptr<QMenu> nativeAndAuxChannelMenu(KOAudioDevice& device);
    // Those followed by the summing channels.
    static std::unique_ptr<QMenu> inputChannelMenu(KOAudioDevice& device);
    // A summing table cell's pop-up menu (a summing channel cannot feed another, so the native
    // and auxiliary channels) and, when `selected` is given, the index of the cell's source.
    static std::unique_ptr<QMenu> summingTableMenu(KOAudioDevice& device, const QString& column,
                                                   int row, int* selected);

    static std::unique_ptr<QMenu> menuWithEntries(const koru::ChannelMenuCache::Entries& entries);
};
