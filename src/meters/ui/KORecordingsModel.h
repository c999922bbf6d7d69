#pragma once

#include <QAbstractListModel>
#include <QFileIconProvider>
#include <QStringList>

class KORecordingsStore;

// The recordings list as one column of rows, one per stored entry in list order (missing files
// included, shown as missing). Every change goes through here so the views follow; the store
// is saved after each one. Drags carry the file of the first dragged row as a URL; dropped
// local files are listed in the order they come. Main thread only.
class KORecordingsModel : public QAbstractListModel {
    Q_OBJECT
public:
    enum Role {
        PathRole = Qt::UserRole + 1, // the entry's full path
        MissingRole,                 // true when the file is gone
    };
    static constexpr int kIconSize = 18;

    explicit KORecordingsModel(KORecordingsStore& store, QObject* parent = nullptr);

    KORecordingsStore& store() const { return mStore; }

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

    QStringList mimeTypes() const override;
    QMimeData* mimeData(const QModelIndexList& indexes) const override;
    Qt::DropActions supportedDragActions() const override;
    Qt::DropActions supportedDropActions() const override;
    bool canDropMimeData(const QMimeData* data, Qt::DropAction action, int row, int column,
                         const QModelIndex& parent) const override;
    // Lists each local file of the URLs in order and stops at the first that is no local file;
    // false then, or when nothing could be listed.
    bool dropMimeData(const QMimeData* data, Qt::DropAction action, int row, int column,
                      const QModelIndex& parent) override;

    // Lists `path` (or keeps it where it is when listed) and saves. False when the store could
    // not be written.
    bool addRecording(const QString& path);
    // Removes the row's entry and saves; false for a row outside the list or a failed write.
    bool removeRecording(int row);
    // Asks the file system again which files are missing.
    void refresh();
    // Reads the store again.
    void reload();

signals:
    // A read or write of the store failed; the text says which file and why.
    void storeError(const QString& message);

private:
    void reportStoreResult(bool ok);

    KORecordingsStore& mStore;
    QFileIconProvider mIcons;
};
