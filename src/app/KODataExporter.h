#pragma once

#include "app/KODataExporting.h"
#include "utility/Error.h"

#include <QString>
#include <QStringList>
#include <QUrl>

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

namespace koru {
class ValueFormatter;
}

// Writes a KODataExporting table as CSV text: UTF-8 without a byte-order mark, a title line
// ("key" or "key [unit]"), one line per row, every line ending in a line feed, fields joined by
// the field separator, numbers with the chosen decimal separator.
//
// Two choices beyond the plain format:
// - A field holding the field separator, a double quote, a carriage return or a line feed is
//   quoted (RFC 4180: in double quotes, inner quotes doubled), so a long date such as
//   "Tuesday, December 10, 2024" never shifts the columns after it. Other fields stay bare.
// - No number is written as infinity or NaN: NaN and -inf (silence in decibels) become the
//   engine's floor of -144, +inf an empty field.
//
// The field and decimal separators never end up equal: setting one to the other's value moves
// the other (the field separator to ";", the decimal separator to ".").
//
// Settings may be changed from the main thread while nothing runs; one export or preview runs
// at a time, on any thread.
class KODataExporter {
public:
    // Rows written so far, and the total when the source knows it.
    using Progress = std::function<void(std::uint64_t rows, std::optional<std::uint64_t> total)>;

    static constexpr double kFiniteFloor = -144.0;
    static constexpr int kPreviewRows = 8;
    static const QString kTabSeparatorName; // "Tab"
    static const QString kErrorDomain;

    static std::shared_ptr<KODataExporter>
    exporterWithDataSource(std::shared_ptr<KODataExporting> dataSource);
    explicit KODataExporter(std::shared_ptr<KODataExporting> dataSource);
    ~KODataExporter();

    KODataExporter(const KODataExporter&) = delete;
    KODataExporter& operator=(const KODataExporter&) = delete;

    std::shared_ptr<KODataExporting> dataSource() const { return m_dataSource; }

    QString csvSeparator() const; // ",", ";" or "Tab"
    void setCsvSeparator(const QString& separator);
    QString decimalSeparator() const; // "." or ","
    void setDecimalSeparator(const QString& separator);
    QString realCsvSeparator() const; // "Tab" as a tab character
    QStringList csvKeys() const;      // the exported columns in order
    void setCsvKeys(const QStringList& keys);

    // The column's formatter, made on first use (the source's, else a standard number
    // formatter) and kept for the exporter's life, so a style chosen for the preview holds for
    // the export.
    std::shared_ptr<koru::ValueFormatter> formatterForKey(const QString& key);
    // The formatters of csvKeys() in order; the number formatters among them take the
    // exporter's decimal separator.
    std::vector<std::shared_ptr<koru::ValueFormatter>> dataFormatters();
    // The title line with its line feed; empty without columns.
    QString csvHeaderString() const;

    // Writes the table to a local file, atomically: the file is only replaced once every byte is
    // on disk. A source that refuses preparation writes nothing and is no error. `progress` is
    // called on the calling thread now and then.
    std::optional<koru::utility::Error> startExportCsvToURL(const QUrl& url,
                                                            const Progress& progress = {});
    // The title line and at most the first eight rows; empty when the source refuses, or while
    // an export runs.
    QString csvPreviewString();

private:
    class RowWriter;

    void applyCsvSeparator(const QString& separator);                          // m_mutex held
    void applyDecimalSeparator(const QString& separator);                      // m_mutex held
    std::shared_ptr<koru::ValueFormatter> cachedFormatter(const QString& key); // m_mutex held
    koru::utility::Error writeError(const QString& path, const QString& why) const;

    const std::shared_ptr<KODataExporting> m_dataSource;
    mutable std::mutex m_mutex; // the settings and the formatter cache
    QString m_csvSeparator = QStringLiteral(",");
    QString m_decimalSeparator = QStringLiteral(".");
    QStringList m_csvKeys;
    std::map<QString, std::shared_ptr<koru::ValueFormatter>> m_formatters;
    std::mutex m_runMutex; // one export or preview at a time: both use the source's one copy
};
