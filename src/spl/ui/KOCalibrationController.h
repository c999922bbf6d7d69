#pragma once

#include "spl/KOCalibrationStore.h"

#include <QAbstractTableModel>
#include <QPointer>
#include <QWidget>

#include <vector>

class QPushButton;
class QTableView;

// The stored calibrations as a table: menu name, value, device, date (short styles) and notes.
// Follows the store's changes; main thread.
class KOCalibrationTableModel : public QAbstractTableModel {
    Q_OBJECT
public:
    enum Column { Name, Value, Device, Date, Notes, ColumnCount };

    explicit KOCalibrationTableModel(KOCalibrationStore& store, QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;

    KOCalibrationStore::Calibration calibrationAtRow(int row) const;
    void reload();

private:
    KOCalibrationStore& mStore;
    std::vector<KOCalibrationStore::Calibration> mRows;
};

// The window of the stored calibrations (one for the program): the table and a Delete button
// that removes the selected rows from the store.
class KOCalibrationController : public QWidget {
    Q_OBJECT
public:
    explicit KOCalibrationController(KOCalibrationStore& store, QWidget* parent = nullptr);

    // The program's window over the shared store, made on first use.
    static KOCalibrationController& sharedController();

    void showWindow();
    // Removes the selected calibrations; nothing selected does nothing.
    void deleteSelected();

    QTableView* tableView() const { return mTable; }
    KOCalibrationTableModel* model() const { return mModel; }

private:
    KOCalibrationStore& mStore;
    KOCalibrationTableModel* mModel = nullptr;
    QTableView* mTable = nullptr;
};
