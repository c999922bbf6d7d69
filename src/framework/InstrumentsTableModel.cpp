#include "framework/InstrumentsTableModel.h"

#include "framework/KOMultipleTracesInstrumentController.h"

#include <QMimeData>

namespace koru::framework {

namespace {

const char* const showProperty = "show";

} // namespace

QStringList InstrumentsTableModel::columnIdentifiers() {
    return {QStringLiteral("show"), QStringLiteral("icon"), QStringLiteral("title")};
}

InstrumentsTableModel::InstrumentsTableModel(KOMultipleTracesInstrumentController& controller)
    : mController(controller) {}

int InstrumentsTableModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : mController.instrumentCount();
}

int InstrumentsTableModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant InstrumentsTableModel::data(const QModelIndex& index, int role) const {
    const auto model = index.isValid() ? mController.instrumentAt(index.row()) : nullptr;
    if (!model)
        return {};
    switch (index.column()) {
    case ShowColumn: {
        const QVariant show = model->property(showProperty);
        if (role == Qt::CheckStateRole && show.isValid())
            return show.toBool() ? Qt::Checked : Qt::Unchecked;
        return {};
    }
    case IconColumn:
        return role == Qt::DecorationRole ? QVariant(model->icon()) : QVariant();
    case TitleColumn:
        return role == Qt::DisplayRole || role == Qt::EditRole ? QVariant(model->title())
                                                               : QVariant();
    default:
        return {};
    }
}

bool InstrumentsTableModel::setData(const QModelIndex& index, const QVariant& value, int role) {
    const auto model = index.isValid() ? mController.instrumentAt(index.row()) : nullptr;
    if (!model)
        return false;
    if (index.column() == ShowColumn && role == Qt::CheckStateRole) {
        model->setProperty(showProperty, value.toInt() == Qt::Checked);
    } else if (index.column() == TitleColumn && role == Qt::EditRole) {
        model->setTitle(value.toString());
    } else {
        return false;
    }
    emit dataChanged(index, index, {role});
    return true;
}

QVariant InstrumentsTableModel::headerData(int section, Qt::Orientation orientation,
                                           int role) const {
    if (orientation != Qt::Horizontal || section < 0 || section >= ColumnCount)
        return {};
    if (role == Qt::UserRole)
        return columnIdentifiers().at(section);
    return {};
}

Qt::ItemFlags InstrumentsTableModel::flags(const QModelIndex& index) const {
    if (!index.isValid())
        return Qt::ItemIsDropEnabled;
    Qt::ItemFlags flags = Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsDragEnabled;
    if (index.column() == ShowColumn)
        flags |= Qt::ItemIsUserCheckable;
    if (index.column() == TitleColumn)
        flags |= Qt::ItemIsEditable;
    return flags;
}

QStringList InstrumentsTableModel::mimeTypes() const {
    using C = KOMultipleTracesInstrumentController;
    return {C::mimeTypeFor(C::kDragTypeInstrument), C::mimeTypeFor(C::kDragTypeRowNumber)};
}

QMimeData* InstrumentsTableModel::mimeData(const QModelIndexList& indexes) const {
    QList<int> rows;
    for (const QModelIndex& index : indexes)
        rows.append(index.row());
    // The view takes ownership of what this returns.
    return mController.writeRowsWithIndexes(rows).release();
}

bool InstrumentsTableModel::canDropMimeData(const QMimeData* data, Qt::DropAction /*action*/,
                                            int /*row*/, int /*column*/,
                                            const QModelIndex& /*parent*/) const {
    return data && mController.validateDrop(data) != Qt::IgnoreAction;
}

bool InstrumentsTableModel::dropMimeData(const QMimeData* data, Qt::DropAction action, int row,
                                         int /*column*/, const QModelIndex& parent) {
    if (!data || action == Qt::IgnoreAction)
        return false;
    // A drop onto a row lands before it; a drop past the end or on empty space appends.
    const int count = rowCount();
    int target = row >= 0 ? row : (parent.isValid() ? parent.row() : count);
    target = std::clamp(target, 0, count);
    mController.acceptDrop(data, target);
    // The controller has already moved or inserted the row: the view must not remove the
    // source row after a move.
    return false;
}

Qt::DropActions InstrumentsTableModel::supportedDropActions() const {
    return Qt::MoveAction | Qt::CopyAction;
}

Qt::DropActions InstrumentsTableModel::supportedDragActions() const {
    return Qt::MoveAction | Qt::CopyAction;
}

} // namespace koru::framework
