#pragma once

#include <QAbstractTableModel>
#include <QIcon>
#include <QWidget>

#include <functional>

class KOInstrumentController;
class QTableView;

namespace koru {
class InstrumentList;
}

// The open instruments, one row per controller in list order: "title" (the name, editable),
// "visible" (a check box that hides or shows the window) and "follow" (brings the window to
// front). Rows beyond the list answer "", unchecked and the follow image, as a view may ask
// before it is reloaded. Any edit reloads both tables.
class KOOpenInstrumentsModel : public QAbstractTableModel {
    Q_OBJECT
public:
    enum Column { Title = 0, Visible = 1, Follow = 2, ColumnCount = 3 };

    KOOpenInstrumentsModel(koru::InstrumentList& instruments, std::function<void()> reloadTables,
                           QObject* parent = nullptr);

    // "title", "visible", "follow"; "" for anything else.
    static QString columnIdentifier(int column);
    // Made once per process, shared by every row.
    static const QIcon& followImage();

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    bool setData(const QModelIndex& index, const QVariant& value, int role) override;

    // The value a column shows for a row, as the table asks for it: the name, the window's
    // visibility, the follow image; rows past the end answer "", false, the image.
    QVariant objectValue(int column, int row) const;
    void reload();

private:
    KOInstrumentController* instrumentAt(int row) const;

    koru::InstrumentList& mInstruments;
    std::function<void()> mReloadTables;
};

// The history: one "title" row per closed instrument's dictionary, its
// "InstrumentController.Name". Not editable; an edit still reloads both tables.
class KOInstrumentHistoryModel : public QAbstractTableModel {
    Q_OBJECT
public:
    KOInstrumentHistoryModel(koru::InstrumentList& instruments, std::function<void()> reloadTables,
                             QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    bool setData(const QModelIndex& index, const QVariant& value, int role) override;

    QVariant objectValue(int column, int row) const;
    void reload();

private:
    koru::InstrumentList& mInstruments;
    std::function<void()> mReloadTables;
};

// The main window's two tables and their actions. The Delete (or Backspace) key acts on the table
// that has the focus: in the history it removes the selected entry, in the open instruments it
// closes the selected instrument, which passes it into the history. A double click on a history
// row restores that instrument.
class KOInstrumentTables : public QWidget {
    Q_OBJECT
public:
    struct Actions {
        // Restores the history entry of the row (the controller also wires the new window).
        std::function<void(qint64 row)> restoreRecentInstrument;
    };

    KOInstrumentTables(koru::InstrumentList& instruments, Actions actions,
                       QWidget* parent = nullptr);

    QTableView* currentInstrumentsTable() const { return mCurrentTable; }
    QTableView* recentInstrumentsTable() const { return mRecentTable; }
    KOOpenInstrumentsModel& openModel() { return *mOpenModel; }
    KOInstrumentHistoryModel& historyModel() { return *mHistoryModel; }

    void reloadTables();
    void reloadOpenInstrumentsTable();
    // Selects the row alone; a row outside the table clears the selection.
    void selectOpenInstrumentRow(qint64 row);

    // The selected rows, -1 without a selection.
    qint64 selectedOpenRow() const;
    qint64 selectedHistoryRow() const;

    // Acts on the focused table as the Delete key does; other views: nothing.
    void deleteSelected();
    // Removes the selected history entry; reloads both tables even without one.
    void removeHistoryInstrument();
    // Closes the selected open instrument (into the history); nothing without one.
    void removeActiveInstrument();
    // Restores the selected history entry; reloads both tables even without one.
    void restoreRecentInstrumentFromTable();
    // Shows the row's window, makes it key and brings it to front; a missing row does nothing.
    void followInstrument(qint64 row);

private:
    koru::InstrumentList& mInstruments;
    Actions mActions;
    KOOpenInstrumentsModel* mOpenModel = nullptr;
    KOInstrumentHistoryModel* mHistoryModel = nullptr;
    QTableView* mCurrentTable = nullptr;
    QTableView* mRecentTable = nullptr;
};
