#pragma once

#include "app/ExportRow.h"

#include <QString>
#include <QStringList>
#include <QVariantMap>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

class KODataExporter;

namespace koru {
class ValueFormatter;

// One choice of an exporter panel's range control: its menu title and its tag.
struct ExportRange {
    QString name;
    quint32 value = 0;
};
} // namespace koru

// A table the CSV exporter can write: an SPL log, an analyser trace. The exporter asks for a
// fresh copy of the rows before every export and preview (prepareDataForExporting), reads the
// column keys, their formatters and units, walks the rows and says when it is done, so the
// source can drop its copy. The operations with a body are optional; their defaults are what
// the exporter assumes of a source that does not offer them.
class KODataExporting {
public:
    // The key of exportOptions() the exporter panel reads and writes.
    static const QString kExportRangeKey; // "exportRange"

    using RowVisitor = std::function<bool(const koru::ExportRow& row)>;

    virtual ~KODataExporting() = default;

    // Whether there is anything to export; the owners use it to enable their export commands.
    virtual bool canExportData() const = 0;
    // Takes a consistent copy of the rows for the enumeration that follows, under the source's
    // own lock. False refuses the export or preview.
    virtual bool prepareDataForExporting(KODataExporter& exporter) = 0;
    // The column keys in their default order; each is also the column's title and the key of
    // its cell in every row.
    virtual QStringList headers() const = 0;
    // Yields the prepared rows in file order until the visitor answers false.
    virtual void enumerateRows(const RowVisitor& visitor) = 0;

    // After a file export and after every preview whose preparation succeeded.
    virtual void exportFinished(KODataExporter& exporter);
    // The formatter of a column; none means the exporter's standard number formatter.
    virtual std::shared_ptr<koru::ValueFormatter> formatterForHeader(const QString& key);
    // The unit shown in a column's title, if any.
    virtual std::optional<QString> unitForHeader(const QString& key) const;
    // The choices of the panel's range control; none hides the control.
    virtual std::optional<std::vector<koru::ExportRange>> availableExportRanges() const;
    // The current options ({"exportRange": unsigned}); none when the source has no options.
    virtual std::optional<QVariantMap> exportOptions() const;
    virtual void setExportOptions(const QVariantMap& options);
    // How many rows the prepared enumeration yields, when the source knows (for progress).
    virtual std::optional<std::uint64_t> exportRowCount() const;
};
