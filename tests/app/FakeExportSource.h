#pragma once

#include "app/KODataExporting.h"
#include "app/ValueFormatter.h"

#include <QString>
#include <QStringList>

#include <atomic>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <vector>

namespace koru::test {

// A table whose columns, units, formatters, rows and ranges a test sets directly. With ranges,
// the range picks every n-th row, so a change of range shows in the preview. It counts
// preparations and finishes, and can hold the enumeration at a row (onRow) to catch an export
// half-way.
class FakeExportSource : public KODataExporting {
public:
    QStringList columns;
    std::map<QString, QString> units;
    std::map<QString, std::shared_ptr<ValueFormatter>> formatters;
    std::vector<ExportRow> rows;
    bool refusePreparation = false;
    bool knowsRowCount = true;
    std::optional<std::vector<ExportRange>> ranges;
    quint32 range = 1;
    std::function<void(std::uint64_t row)> onRow; // before each row is handed out

    std::atomic<int> preparations{0};
    std::atomic<int> finishes{0};

    bool canExportData() const override { return !rows.empty(); }
    bool prepareDataForExporting(KODataExporter&) override {
        ++preparations;
        if (refusePreparation)
            return false;
        m_copy.clear();
        for (std::size_t i = 0; i < rows.size(); i += std::max<quint32>(1, range))
            m_copy.push_back(rows[i]);
        return true;
    }
    QStringList headers() const override { return columns; }
    void enumerateRows(const RowVisitor& visitor) override {
        for (std::size_t i = 0; i < m_copy.size(); ++i) {
            if (onRow)
                onRow(i);
            if (!visitor(m_copy[i]))
                return;
        }
    }
    void exportFinished(KODataExporter&) override {
        ++finishes;
        m_copy.clear();
    }
    std::shared_ptr<ValueFormatter> formatterForHeader(const QString& key) override {
        const auto found = formatters.find(key);
        return found == formatters.end() ? nullptr : found->second;
    }
    std::optional<QString> unitForHeader(const QString& key) const override {
        const auto found = units.find(key);
        return found == units.end() ? std::nullopt : std::optional<QString>(found->second);
    }
    std::optional<std::vector<ExportRange>> availableExportRanges() const override {
        return ranges;
    }
    std::optional<QVariantMap> exportOptions() const override {
        if (!ranges)
            return std::nullopt;
        return QVariantMap{{kExportRangeKey, range}};
    }
    void setExportOptions(const QVariantMap& options) override {
        if (ranges && options.contains(kExportRangeKey))
            range = options.value(kExportRangeKey).toUInt();
    }
    std::optional<std::uint64_t> exportRowCount() const override {
        if (!knowsRowCount)
            return std::nullopt;
        return m_copy.size();
    }

    // Appends a row of cells in column order.
    void addRow(const std::vector<ExportValue>& cells) {
        ExportRow row;
        for (std::size_t i = 0; i < cells.size() && i < std::size_t(columns.size()); ++i)
            row.set(columns[qsizetype(i)], cells[i]);
        rows.push_back(row);
    }

private:
    std::vector<ExportRow> m_copy;
};

} // namespace koru::test
