#pragma once

#include <QWidget>

#include <functional>

class KORecordingsModel;
class QLabel;
class QListView;

// The recordings list as a widget to embed (the recorder window) or to stand alone (the
// recordings window): one row per recording with the file's icon and name, missing files
// greyed out as "(missing)". Double-click or Return shows the file in the file manager; Delete
// or Backspace removes the selected entry from the list (never the file); rows drag out as
// files and dropped files are listed. A failed read or write of the list shows its reason
// under the list. Main thread only.
class KORecordingsView : public QWidget {
    Q_OBJECT
public:
    // Shows `path` to the user; returns false when it could not.
    using Revealer = std::function<bool(const QString& path)>;

    // The model (shared by every view of the list) outlives the view.
    explicit KORecordingsView(KORecordingsModel& model, QWidget* parent = nullptr);
    ~KORecordingsView() override;

    KORecordingsModel& model() const { return *mModel; }
    QListView& list() const { return *mList; }

    // Lists a finished recording (the recorder calls it when a recording stops).
    bool addRecording(const QString& path);
    // The selected row, or -1.
    int selectedRow() const;
    void selectRow(int row);
    // Shows the selected file; nothing without a selection or when the file is missing.
    void revealSelected();
    // Removes the selected entry; nothing without a selection.
    void deleteSelected();
    // Replaces how files are shown (tests); by default the file manager, else its folder.
    void setRevealer(Revealer revealer) { mRevealer = std::move(revealer); }
    // The last store failure shown under the list; empty when none.
    QString errorText() const;

    // The default revealer: the file manager with the file selected, or the folder opened.
    static bool revealInFileManager(const QString& path);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    void showError(const QString& message);

    KORecordingsModel* mModel = nullptr;
    QListView* mList = nullptr; // child
    QLabel* mError = nullptr;   // child
    Revealer mRevealer;
};
