#include "engine/ui/SummingChannelTableModel.h"

#include "engine/KOAudioDevice.h"

namespace koru {

SummingChannelTableModel::SummingChannelTableModel(KOAudioDevice& device, QObject* parent)
    : QAbstractTableModel(parent), mDevice(device) {
    mReloadToken = koru::platform::observeNotification(
        QString::fromLatin1(KOAudioDevice::kReloadAudioPropNotification), &device,
        [this](const koru::platform::Notification&) { reloadData(); });
}

void SummingChannelTableModel::reloadData() {
    beginResetModel();
    endResetModel();
}

QString SummingChannelTableModel::columnIdentifier(int column) {
    switch (column) {
    case 0:
        return QString::fromLatin1(KOAudioDevice::kSummingColumnA);
    case 1:
        return QString::fromLatin1(KOAudioDevice::kSummingColumnB);
    default:
        return {};
    }
}

int SummingChannelTableModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : mDevice.numberOfSummingTableRows();
}

int SummingChannelTableModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : 2;
}

QVariant SummingChannelTableModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid()) {
        return {};
    }
    const QVariant source =
        mDevice.summingTableValue(columnIdentifier(index.column()), index.row());
    switch (role) {
    case Qt::EditRole:
        return source;
    case Qt::DisplayRole:
        return mDevice.nameForChannelAtIndex(source.toUInt());
    default:
        return {};
    }
}

bool SummingChannelTableModel::setData(const QModelIndex& index, const QVariant& value, int role) {
    if (!index.isValid() || role != Qt::EditRole || !value.canConvert<unsigned>()) {
        return false;
    }
    mDevice.setSummingTableValue(value, columnIdentifier(index.column()), index.row());
    emit dataChanged(index, index);
    return true;
}

QVariant SummingChannelTableModel::headerData(int section, Qt::Orientation orientation,
                                              int role) const {
    if (orientation == Qt::Horizontal && role == kIdentifierRole) {
        return columnIdentifier(section);
    }
    return QAbstractTableModel::headerData(section, orientation, role);
}

Qt::ItemFlags SummingChannelTableModel::flags(const QModelIndex& index) const {
    return QAbstractTableModel::flags(index) | Qt::ItemIsEditable;
}

} // namespace koru
