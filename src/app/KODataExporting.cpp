#include "app/KODataExporting.h"

#include "app/ValueFormatter.h"

const QString KODataExporting::kExportRangeKey = QStringLiteral("exportRange");

void KODataExporting::exportFinished(KODataExporter&) {}

std::shared_ptr<koru::ValueFormatter> KODataExporting::formatterForHeader(const QString&) {
    return nullptr;
}

std::optional<QString> KODataExporting::unitForHeader(const QString&) const {
    return std::nullopt;
}

std::optional<std::vector<koru::ExportRange>> KODataExporting::availableExportRanges() const {
    return std::nullopt;
}

std::optional<QVariantMap> KODataExporting::exportOptions() const {
    return std::nullopt;
}

void KODataExporting::setExportOptions(const QVariantMap&) {}

std::optional<std::uint64_t> KODataExporting::exportRowCount() const {
    return std::nullopt;
}
