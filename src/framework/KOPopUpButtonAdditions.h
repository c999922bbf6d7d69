#pragma once

#include <QKeySequence>
#include <QList>

class QComboBox;
class QMenu;

// Pop-up buttons (combo boxes whose item data is the tag) turned into the parameter menus, with
// key equivalents per item.
class KOPopUpButtonAdditions {
public:
    static void becomeFFTSizeMenu(QComboBox& popUp);
    static void becomeFFTWindowTypeMenu(QComboBox& popUp);
    static void becomeOctaveMenu(QComboBox& popUp);
    static void becomeAccumulationModeMenu(QComboBox& popUp);
    // Replaces the items by the menu's top-level items (title and tag).
    static void becomeMenu(QComboBox& popUp, const QMenu& menu);

    // Items and their key equivalents go together.
    static void removeAllItems(QComboBox& popUp);
    static void addItemWithTitle(QComboBox& popUp, const QString& title, qint64 tag);

    // Shift+1, Shift+2, … for the items in order.
    static void createShortcutsForOctaveMenu(QComboBox& popUp);
    // Pressing any of the keys in the pop-up's window selects the item and reports it as a user
    // choice (the pop-up's activated signal).
    static void setItemKeyEquivalents(QComboBox& popUp, int index, const QList<QKeySequence>& keys);
    // Shift+digit: the key event names the shifted symbol on most layouts (Shift+3 arrives as
    // '#' on a US keyboard), so the US symbol is bound next to the digit.
    static QList<QKeySequence> shiftedDigitKeys(int digit);

    static qint64 selectedTag(const QComboBox& popUp); // 0 without a selection
    // Selects the first item with the tag; false (selection unchanged) when none has it.
    static bool selectItemWithTag(QComboBox& popUp, qint64 tag);
};
