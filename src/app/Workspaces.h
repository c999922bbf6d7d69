#pragma once

#include <QString>
#include <QVariantMap>

#include <cstdint>
#include <optional>
#include <vector>

namespace koru {

class Session;

// Named snapshots of the current session with an optional shortcut, kept in the session (its
// workspace list, current workspace and shadow workspace live in Session). Recalling one never
// touches the audio settings; before a numbered workspace is recalled, the state being left
// becomes the shadow workspace, which can be recalled to go back. Main thread only.
//
// Shortcuts are stored as Qt gives them: "Workspace.Modifier" is the Qt::KeyboardModifiers mask,
// "Workspace.KeyCode" a key code where -1 means "no key", written as the all-ones 64-bit number
// and read back through its low 32 bits, so it comes back as -1.
class Workspaces {
public:
    static constexpr const char* kNameKey = "Workspace.Name";
    static constexpr const char* kKeyKey = "Workspace.Key";
    static constexpr const char* kModifierKey = "Workspace.Modifier";
    static constexpr const char* kKeyCodeKey = "Workspace.KeyCode";
    static constexpr const char* kSessionKey = "Workspace.Session";
    static constexpr const char* kUpdateBeforeRecallDefault = "KORU.Workspace.UpdateBeforeRecall";

    explicit Workspaces(Session& session);

    // Appends a workspace of the current session and makes it current; the shadow stays.
    void captureWorkspace(const QString& name, const QString& keyChars, quint64 modifierFlags,
                          std::int32_t keyCode);
    // Recalls the workspace at index `tag`, or the shadow workspace for the shadow tag. With
    // `updateBeforeRecall`, recalling the current workspace does nothing and any other recall
    // first stores the live state into the current one. A tag that names nothing, or a failure
    // while loading, leaves no workspace current; the workspace list always survives.
    void restoreWorkspace(std::int32_t tag, bool updateBeforeRecall);
    // Stores the current session into the current workspace (name and shortcut stay). Without a
    // valid current index nothing is stored and no workspace is current any more.
    void updateCurrentWorkspace();

    // --- The workspace editor's data source --------------------------------------------------
    qint64 numberOfWorkspaces() const;
    // Throws std::out_of_range for an index outside the list.
    QVariantMap workspaceDictionaryAtIndex(qint64 index) const;
    // Replaces the entry, or removes it when given none; an index outside the list is ignored.
    // After a removal the current index follows its workspace: one before it moves it down,
    // removing the current one leaves none current.
    void setWorkspace(const std::optional<QVariantMap>& workspace, qint64 index);

    // The key code of a workspace: the low 32 bits of what is stored, -1 when nothing is.
    static std::int32_t keyCodeOf(const QVariantMap& workspace);
    static QVariant storedKeyCode(std::int32_t keyCode);

    // --- The workspaces menu, as the window builds it ----------------------------------------
    enum class MenuAction { None, Capture, Edit, Update, Restore };
    struct MenuItem {
        MenuAction action = MenuAction::None; // None: a separator
        QString title;
        std::int32_t tag = 0;
        QString key; // shortcut key, empty for none
        quint64 modifiers = 0;
        bool enabled = true;
        bool checked = false;
    };
    std::vector<MenuItem> menuItems() const;

private:
    Session& mSession;
};

} // namespace koru
