#pragma once

#include "app/KODataExporting.h"

#include <memory>
#include <vector>

class KOSPLLog;
struct KOSPLRecord;

// An SPL log as the CSV exporter sees it: "Time", "SPL", "AVG", "LEQ"; the levels in dB of the
// log's weighting; one row per group of "exportRange" records of the log's selection, holding
// the group's latest time and its maxima.
class KOSPLLogExportSource : public KODataExporting {
public:
    explicit KOSPLLogExportSource(std::shared_ptr<KOSPLLog> log);
    ~KOSPLLogExportSource() override;

    bool canExportData() const override;
    // Copies the selected records under the log's lock.
    bool prepareDataForExporting(KODataExporter& exporter) override;
    QStringList headers() const override;
    void enumerateRows(const RowVisitor& visitor) override;
    void exportFinished(KODataExporter& exporter) override;
    std::shared_ptr<koru::ValueFormatter> formatterForHeader(const QString& key) override;
    std::optional<QString> unitForHeader(const QString& key) const override;
    std::optional<std::vector<koru::ExportRange>> availableExportRanges() const override;
    std::optional<QVariantMap> exportOptions() const override;
    void setExportOptions(const QVariantMap& options) override;
    std::optional<std::uint64_t> exportRowCount() const override;

private:
    std::shared_ptr<KOSPLLog> mLog;
    quint32 mExportRange = 1;
    std::vector<KOSPLRecord> mCopy;
};
