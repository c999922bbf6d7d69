#pragma once

#include "platform/archive/KeyedArchive.h"

#include <QAbstractListModel>

#include <memory>
#include <vector>

class KODelayFinderData;

// A measurement's delay-finder results, oldest first, as a list the delay-finder window shows
// and edits (the name of each row is its text). The measurement owns it, adds each finished
// result and announces here every change of its delay, so the window follows both.
// Main thread only.
class KODelayFinderResults : public QAbstractListModel {
    Q_OBJECT
public:
    // The key a measurement keeps its results under.
    static constexpr const char* kArchiveKey = "delayFinder";

    explicit KODelayFinderResults(QObject* parent = nullptr);
    ~KODelayFinderResults() override;

    int rowCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;

    int count() const { return int(mResults.size()); }
    // Null outside the list.
    std::shared_ptr<KODelayFinderData> at(int row) const;
    // -1 when the result is not in the list.
    int rowOf(const KODelayFinderData* data) const;
    const std::vector<std::shared_ptr<KODelayFinderData>>& results() const { return mResults; }

    // A null result is ignored.
    void add(std::shared_ptr<KODelayFinderData> data);
    // Rows outside the list are ignored.
    void removeRows(std::vector<int> rows);
    void clear();

    // The list as an array of archived results under `key`.
    void encode(koru::platform::KeyedArchiver& coder, const QString& key) const;
    // Replaces the list with the array under `key` (empty when there is none); entries that
    // are not results are skipped with a log line.
    void decode(koru::platform::KeyedUnarchiver& coder, const QString& key);

    // The measurement calls this after every change of its delay or its delay offset.
    void announceDelayChange() { emit delayChanged(); }

signals:
    void delayChanged();

private:
    std::vector<std::shared_ptr<KODelayFinderData>> mResults;
};
