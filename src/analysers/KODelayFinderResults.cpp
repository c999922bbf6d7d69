#include "analysers/KODelayFinderResults.h"

#include "analysers/KODelayFinderData.h"
#include "platform/log/Log.h"

#include <algorithm>

using koru::platform::KeyedArchiver;
using koru::platform::KeyedUnarchiver;

KODelayFinderResults::KODelayFinderResults(QObject* parent) : QAbstractListModel(parent) {
    KODelayFinderData::registerArchiveClasses();
}

KODelayFinderResults::~KODelayFinderResults() = default;

int KODelayFinderResults::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : count();
}

QVariant KODelayFinderResults::data(const QModelIndex& index, int role) const {
    const std::shared_ptr<KODelayFinderData> result = at(index.row());
    if (!index.isValid() || result == nullptr)
        return {};
    if (role == Qt::DisplayRole || role == Qt::EditRole)
        return result->name();
    if (role == Qt::ToolTipRole)
        return QLocale().toString(result->timeStamp().toLocalTime(), QLocale::ShortFormat);
    return {};
}

std::shared_ptr<KODelayFinderData> KODelayFinderResults::at(int row) const {
    return row >= 0 && row < count() ? mResults[std::size_t(row)] : nullptr;
}

int KODelayFinderResults::rowOf(const KODelayFinderData* data) const {
    const auto found = std::find_if(mResults.begin(), mResults.end(),
                                    [data](const auto& result) { return result.get() == data; });
    return found == mResults.end() ? -1 : int(found - mResults.begin());
}

void KODelayFinderResults::add(std::shared_ptr<KODelayFinderData> data) {
    if (data == nullptr)
        return;
    beginInsertRows({}, count(), count());
    mResults.push_back(std::move(data));
    endInsertRows();
}

void KODelayFinderResults::removeRows(std::vector<int> rows) {
    // From the last, so the earlier rows keep their numbers.
    std::sort(rows.begin(), rows.end(), std::greater<>());
    rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
    for (const int row : rows) {
        if (row < 0 || row >= count())
            continue;
        beginRemoveRows({}, row, row);
        mResults.erase(mResults.begin() + row);
        endRemoveRows();
    }
}

void KODelayFinderResults::clear() {
    beginResetModel();
    mResults.clear();
    endResetModel();
}

void KODelayFinderResults::encode(KeyedArchiver& coder, const QString& key) const {
    std::vector<const koru::platform::Archivable*> objects;
    objects.reserve(mResults.size());
    for (const auto& result : mResults)
        objects.push_back(result.get());
    coder.encodeObjectArray(key, objects);
}

void KODelayFinderResults::decode(KeyedUnarchiver& coder, const QString& key) {
    // Entry by entry, so that one damaged result costs only itself, not the measurement.
    std::vector<std::shared_ptr<KODelayFinderData>> decoded;
    const QVariant stored = coder.decodeValue(key);
    const QVariantList entries = stored.toList();
    if (stored.isValid() && stored.typeId() != QMetaType::QVariantList)
        koru::log::warn("Archive: \"{}\" holds no list of delay-finder results; none restored",
                        key.toStdString());
    for (const QVariant& entry : entries) {
        QString why;
        std::unique_ptr<koru::platform::Archivable> object =
            entry.typeId() == QMetaType::QVariantMap
                ? KeyedUnarchiver::decodeFromDictionary(entry.toMap(), &why)
                : nullptr;
        if (auto* typed = dynamic_cast<KODelayFinderData*>(object.get())) {
            object.release();
            decoded.emplace_back(typed);
        }
    }
    const auto skipped = entries.size() - qsizetype(decoded.size());
    if (skipped > 0)
        koru::log::warn("Archive: {} entries under \"{}\" are no delay-finder results; skipped",
                        skipped, key.toStdString());
    beginResetModel();
    mResults = std::move(decoded);
    endResetModel();
}
