#pragma once

#include "framework/KOMenuItemAdditions.h"

#include <QKeySequence>
#include <QString>

#include <cstdint>
#include <memory>

class QAction;
class QMenu;
class QObject;

// The analysers' parameter menus, whose item tags are the parameter values themselves (sizes as
// numbers, enumerations as four-character codes), and the tag-based menu operations.
class KOMenuAdditions {
public:
    static constexpr std::uint32_t kFirstFFTSize = 8192;
    static constexpr std::uint32_t kLastFFTSize = 65536;

    // "FFT Size": 8192 … 65536, titled and tagged with the size.
    static std::unique_ptr<QMenu> fftSizeMenu();
    // "Window Type": Hanning 'hann', Hamming 'hamm', Blackman 'blkm', Sine 'sine',
    // Rectangle 'rect'.
    static std::unique_ptr<QMenu> fftWindowTypeMenu();
    // "Octave": "1 Octave" 1, then "1/n Octave" n for n = 3, 6, 12, 24.
    static std::unique_ptr<QMenu> octaveMenu();
    // "Accumulation Mode": white 'whit', pink 'pink', peak 'peak'.
    static std::unique_ptr<QMenu> accumulationModeMenu();

    static QAction* addItemWithTitle(QMenu& menu, const QString& title, qint64 tag);
    static QAction* addItemWithTitle(QMenu& menu, const QString& title, QObject* target,
                                     KOMenuItemAdditions::Action action, qint64 tag);
    static QAction* addItemWithTitle(QMenu& menu, const QString& title, QObject* target,
                                     KOMenuItemAdditions::Action action,
                                     const QKeySequence& keyEquivalent, qint64 tag);
    // An item titled like the submenu, holding it; the menu takes the submenu over.
    static QAction* addSubmenu(QMenu& menu, std::unique_ptr<QMenu> submenu, qint64 tag);
    // Puts a fresh submenu into the item and deletes the one it held.
    static void replaceSubmenu(QAction& item, std::unique_ptr<QMenu> submenu);

    // The first top-level item with the tag, or null.
    static QAction* itemWithTag(const QMenu& menu, qint64 tag);
    // Checks the top-level items carrying the tag and unchecks every other one.
    static void checkItemWithTag(QMenu& menu, qint64 tag);
    static void setItemsAction(QMenu& menu, QObject* target, KOMenuItemAdditions::Action action);
};
