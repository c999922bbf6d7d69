#pragma once

#include <QStringList>
#include <QToolBar>

#include <functional>

class QAction;
class QMenu;

namespace koru::platform {
class UserDefaults;
}

// The main window's toolbar "mainWindowToolbar": small icons without labels, items named by
// their titles and made anew for every request, arranged by the user in a small dialog, the
// arrangement kept in the user defaults as a list of item identifiers. Main thread only.
class KOMainToolbar : public QToolBar {
    Q_OBJECT
public:
    static constexpr const char* kIdentifier = "mainWindowToolbar";
    // Where the arrangement is kept: a list of item identifiers.
    static constexpr const char* kArrangementKey = "KORU.Toolbar.mainWindowToolbar";
    // Items of the toolbar itself; the other identifiers are their titles.
    static constexpr const char* kFlexibleSpaceItem = "KOToolbarFlexibleSpaceItem";
    static constexpr const char* kSpaceItem = "KOToolbarSpaceItem";
    static constexpr const char* kCustomizeItem = "KOToolbarCustomizeItem";
    static constexpr const char* kAddInstrumentItem = "Add Instrument";
    static constexpr const char* kAudioSettingsItem = "Audio Settings";
    static constexpr const char* kAudioSettingsWindowItem = "Audio Settings Window";
    // The property carrying an item's identifier on its action.
    static constexpr const char* kIdentifierProperty = "toolbarItemIdentifier";

    struct Actions {
        // Opens a new instrument of the kind named by its type.
        std::function<void(const QString& typeName)> addInstrument;
        // Whether a kind exists in this program; its item is disabled otherwise.
        std::function<bool(const QString& typeName)> offersInstrument;
        std::function<void()> showAudioSettingsWindow;
        QMenu* addInstrumentMenu = nullptr; // the pop-up of "Add Instrument"
        QMenu* audioSettingsMenu = nullptr; // the pop-up of "Audio Settings"
    };

    KOMainToolbar(Actions actions, koru::platform::UserDefaults& defaults,
                  QWidget* parent = nullptr);

    static QStringList defaultItemIdentifiers();
    static QStringList allowedItemIdentifiers();
    // The instrument type an item adds; empty for the other items.
    static QString instrumentTypeForItem(const QString& identifier);

    // A new item for the identifier; an unknown identifier gives a label without an action.
    QAction* itemForItemIdentifier(const QString& identifier);
    // The items shown, in order.
    QStringList itemIdentifiers() const;
    // Shows these items (those not allowed are left out) and keeps the arrangement.
    void setItemIdentifiers(const QStringList& identifiers);
    QAction* itemWithIdentifier(const QString& identifier) const;

    // The customisation dialog; applies the arrangement when accepted.
    void runCustomizationPalette();

private:
    void rebuild(const QStringList& identifiers);

    Actions m;
    koru::platform::UserDefaults& mDefaults;
};
