#pragma once

#include <QAbstractTableModel>
#include <QStringList>

class KOMultipleTracesInstrumentController;

namespace koru::framework {

// The table of a multiple-traces window: one row per model in list order, columns "show" (the
// model's "show" property, checkable), "icon" and "title" (editable). Drags and drops go to the
// controller, which owns the list; the controller announces its edits through the begin/end
// functions below. Main thread only.
class InstrumentsTableModel : public QAbstractTableModel {
    Q_OBJECT
public:
    enum Column { ShowColumn, IconColumn, TitleColumn, ColumnCount };
    // The column identifiers, in column order; headerData answers them under Qt::UserRole.
    static QStringList columnIdentifiers();

    explicit InstrumentsTableModel(KOMultipleTracesInstrumentController& controller);

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    bool setData(const QModelIndex& index, const QVariant& value, int role) override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

    QStringList mimeTypes() const override;
    QMimeData* mimeData(const QModelIndexList& indexes) const override;
    bool canDropMimeData(const QMimeData* data, Qt::DropAction action, int row, int column,
                         const QModelIndex& parent) const override;
    bool dropMimeData(const QMimeData* data, Qt::DropAction action, int row, int column,
                      const QModelIndex& parent) override;
    Qt::DropActions supportedDropActions() const override;
    Qt::DropActions supportedDragActions() const override;

    // The controller's list edits.
    void beginListChange() { beginResetModel(); }
    void endListChange() { endResetModel(); }

private:
    KOMultipleTracesInstrumentController& mController;
};

} // namespace koru::framework
