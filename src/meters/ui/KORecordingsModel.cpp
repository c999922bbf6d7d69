#include "meters/ui/KORecordingsModel.h"

#include "meters/KORecordingsStore.h"

#include <QApplication>
#include <QFileInfo>
#include <QFont>
#include <QIcon>
#include <QMimeData>
#include <QPalette>
#include <QUrl>

#include <algorithm>

KORecordingsModel::KORecordingsModel(KORecordingsStore& store, QObject* parent)
    : QAbstractListModel(parent), mStore(store) {}

int KORecordingsModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : mStore.count();
}

QVariant KORecordingsModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= mStore.count())
        return {};
    const QString path = mStore.pathAt(index.row());
    const bool missing = !mStore.fileExistsAt(index.row());
    switch (role) {
    case Qt::DisplayRole: {
        const QString name = QFileInfo(path).fileName();
        return missing ? tr("%1 (missing)").arg(name) : name;
    }
    case Qt::ToolTipRole:
        return missing ? tr("%1\nThe file is no longer there.").arg(path) : path;
    case Qt::DecorationRole:
        return missing ? QIcon() : mIcons.icon(QFileInfo(path));
    case Qt::ForegroundRole:
        if (missing)
            return QApplication::palette().brush(QPalette::Disabled, QPalette::Text);
        return {};
    case Qt::FontRole:
        if (missing) {
            QFont font;
            font.setItalic(true);
            return font;
        }
        return {};
    case PathRole:
        return path;
    case MissingRole:
        return missing;
    default:
        return {};
    }
}

Qt::ItemFlags KORecordingsModel::flags(const QModelIndex& index) const {
    const Qt::ItemFlags base = QAbstractListModel::flags(index) | Qt::ItemIsDropEnabled;
    if (!index.isValid())
        return base;
    // A missing file has nothing to drag.
    if (mStore.fileExistsAt(index.row()))
        return base | Qt::ItemIsDragEnabled;
    return base;
}

QStringList KORecordingsModel::mimeTypes() const {
    return {QStringLiteral("text/uri-list")};
}

QMimeData* KORecordingsModel::mimeData(const QModelIndexList& indexes) const {
    int first = -1;
    for (const QModelIndex& index : indexes)
        if (index.isValid() && (first < 0 || index.row() < first))
            first = index.row();
    if (first < 0)
        return nullptr;
    auto* data = new QMimeData;
    data->setUrls({QUrl::fromLocalFile(mStore.pathAt(first))});
    return data;
}

Qt::DropActions KORecordingsModel::supportedDragActions() const {
    return Qt::CopyAction | Qt::LinkAction;
}

Qt::DropActions KORecordingsModel::supportedDropActions() const {
    return Qt::CopyAction | Qt::LinkAction;
}

bool KORecordingsModel::canDropMimeData(const QMimeData* data, Qt::DropAction, int, int,
                                        const QModelIndex&) const {
    return data && data->hasUrls();
}

bool KORecordingsModel::dropMimeData(const QMimeData* data, Qt::DropAction action, int row,
                                     int column, const QModelIndex& parent) {
    if (!canDropMimeData(data, action, row, column, parent))
        return false;
    const QList<QUrl> urls = data->urls();
    if (urls.isEmpty())
        return false;
    for (const QUrl& url : urls) {
        if (!url.isLocalFile() || url.toLocalFile().isEmpty())
            return false;
        if (!addRecording(url.toLocalFile()))
            return false;
    }
    return true;
}

bool KORecordingsModel::addRecording(const QString& path) {
    if (path.isEmpty())
        return false;
    const QString absolute = QFileInfo(path).absoluteFilePath();
    const int existing = mStore.indexOfPath(absolute);
    bool ok = false;
    if (existing >= 0) {
        ok = mStore.addRecording(absolute); // saves all the same
        const QModelIndex changed = index(existing);
        emit dataChanged(changed, changed);
    } else {
        beginInsertRows(QModelIndex(), mStore.count(), mStore.count());
        ok = mStore.addRecording(absolute);
        endInsertRows();
    }
    reportStoreResult(ok);
    return ok;
}

bool KORecordingsModel::removeRecording(int row) {
    if (row < 0 || row >= mStore.count())
        return false;
    beginRemoveRows(QModelIndex(), row, row);
    const bool ok = mStore.removeAt(row);
    endRemoveRows();
    reportStoreResult(ok);
    return ok;
}

void KORecordingsModel::refresh() {
    if (mStore.count() > 0)
        emit dataChanged(index(0), index(mStore.count() - 1));
}

void KORecordingsModel::reload() {
    beginResetModel();
    mStore.reload();
    endResetModel();
    reportStoreResult(mStore.lastError().isEmpty());
}

void KORecordingsModel::reportStoreResult(bool ok) {
    if (!ok && !mStore.lastError().isEmpty())
        emit storeError(mStore.lastError());
}
