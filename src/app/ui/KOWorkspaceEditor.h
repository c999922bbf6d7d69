#pragma once

#include "app/ui/KOShortcutRecorder.h"
#include "utility/ui/ZOModalWindowController.h"

#include <QAbstractTableModel>
#include <QVariantMap>

#include <functional>
#include <optional>

class QLineEdit;
class QTableView;

namespace koru {
class Workspaces;
}

// Where the workspace editor reads and changes the workspaces; it keeps no copy of its own.
class KOWorkspaceEditorDataSource {
public:
    virtual ~KOWorkspaceEditorDataSource() = default;
    virtual qint64 numberOfWorkspaces() const = 0;
    virtual QVariantMap workspaceDictionaryAtIndex(qint64 index) const = 0;
    // Replaces the workspace at the index, or removes it when given none; an index outside the
    // list is ignored.
    virtual void setWorkspace(const std::optional<QVariantMap>& workspace, qint64 index) = 0;
};

// The program's workspaces as the editor's data source; `changed` runs after every change, so the
// workspace commands and their shortcuts follow at once.
class KOWorkspacesDataSource : public KOWorkspaceEditorDataSource {
public:
    KOWorkspacesDataSource(koru::Workspaces& workspaces, std::function<void()> changed);
    qint64 numberOfWorkspaces() const override;
    QVariantMap workspaceDictionaryAtIndex(qint64 index) const override;
    void setWorkspace(const std::optional<QVariantMap>& workspace, qint64 index) override;

private:
    koru::Workspaces& mWorkspaces;
    std::function<void()> mChanged;
};

// The sheet that asks for a new workspace's name ("Workspace <n>" offered) and shortcut.
class KOCaptureWorkspaceController : public ZOModalWindowController {
    Q_OBJECT
public:
    explicit KOCaptureWorkspaceController(std::int32_t number, QWidget* parent = nullptr);

    QString workspaceName() const;
    // The recorded shortcut's readings: characters empty for "no key" (and when nothing is
    // recorded), flags and key code 0 when nothing is recorded.
    QString keyChars() const;
    quint64 modifierFlags() const;
    std::int32_t keyCode() const;

    QLineEdit* nameField() const { return mName; }
    KOShortcutRecorder* shortcutRecorder() const { return mShortcutRecorder; }

private:
    QLineEdit* mName = nullptr;
    KOShortcutRecorder* mShortcutRecorder = nullptr;
    std::int32_t mNumber = 0;
};

// The workspace table of the editor: "name" (editable; an empty name is ignored) and "key" (the
// readable shortcut).
class KOWorkspaceTableModel : public QAbstractTableModel {
    Q_OBJECT
public:
    enum Column { Name = 0, Key = 1 };

    explicit KOWorkspaceTableModel(KOWorkspaceEditorDataSource& source, QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    bool setData(const QModelIndex& index, const QVariant& value, int role) override;
    void reload();

private:
    KOWorkspaceEditorDataSource& mSource;
};

// The editor of the stored workspaces: rename them in the table, select one and record a new
// shortcut, or delete the selected one (the Delete button or key).
class KOWorkspaceEditor : public ZOModalWindowController {
    Q_OBJECT
public:
    explicit KOWorkspaceEditor(KOWorkspaceEditorDataSource& source, QWidget* parent = nullptr);

    QTableView* tableView() const { return mTableView; }
    KOShortcutRecorder* shortcutRecorder() const { return mShortcutRecorder; }
    KOWorkspaceTableModel& model() { return *mModel; }

    // -1 without a selection.
    qint64 selectedRow() const;
    void selectRow(qint64 row);
    // Removes the selected workspace; nothing without a selection.
    void deleteSelected();
    // Stores the recorder's shortcut into the selected workspace.
    void shortcutRecorderDidEndRecording();
    std::int32_t currentKeyCode() const { return mShortcutRecorder->keyCode(); }
    quint64 currentModifierFlags() const { return mShortcutRecorder->modifierFlags(); }

private:
    void selectionChanged();

    KOWorkspaceEditorDataSource& mSource;
    KOWorkspaceTableModel* mModel = nullptr;
    QTableView* mTableView = nullptr;
    KOShortcutRecorder* mShortcutRecorder = nullptr;
};
