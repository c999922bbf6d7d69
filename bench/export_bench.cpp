// Cost of writing a large CSV export to a file: an SPL-log-shaped table of a time column and
// three levels, and a table of four level columns (numbers only, no date formatting).
#include "app/DateValueFormatter.h"
#include "app/KODataExporter.h"

#include <QFileInfo>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdint>
#include <memory>

namespace {

// Rows made as they are read, one row object refilled, so the table costs no memory.
class SyntheticTable : public KODataExporting {
public:
    SyntheticTable(std::int64_t rows, bool withTime) : m_rows(rows), m_withTime(withTime) {
        m_time = std::make_shared<koru::DateValueFormatter>(
            QLocale(QLocale::English, QLocale::UnitedStates), koru::DateValueFormatter::NoStyle,
            koru::DateValueFormatter::LongStyle);
        m_time->setTimeZone("UTC");
    }

    bool canExportData() const override { return true; }
    bool prepareDataForExporting(KODataExporter&) override { return true; }
    QStringList headers() const override {
        return m_withTime ? QStringList{"Time", "SPL", "AVG", "LEQ"}
                          : QStringList{"SPL", "AVG", "LEQ", "Peak"};
    }
    void enumerateRows(const RowVisitor& visitor) override {
        const QStringList keys = headers();
        const koru::ExportTime start = koru::ExportTime{} + std::chrono::seconds(1733826030);
        koru::ExportRow row;
        for (std::int64_t i = 0; i < m_rows; ++i) {
            row.clear();
            if (m_withTime)
                row.set(keys[0], start + std::chrono::seconds(i));
            else
                row.set(keys[0], -20.0 - 0.013 * double(i % 1000));
            row.set(keys[1], 60.0 + 0.37 * double(i % 97));
            row.set(keys[2], 71.25 + 0.01 * double(i % 13));
            row.set(keys[3], 85.0 - 0.11 * double(i % 41));
            if (!visitor(row))
                return;
        }
    }
    std::shared_ptr<koru::ValueFormatter> formatterForHeader(const QString& key) override {
        return key == "Time" ? m_time : nullptr;
    }
    std::optional<QString> unitForHeader(const QString& key) const override {
        return key == "Time" ? std::nullopt : std::optional<QString>("dB(A)");
    }
    std::optional<std::uint64_t> exportRowCount() const override { return m_rows; }

private:
    std::int64_t m_rows;
    bool m_withTime;
    std::shared_ptr<koru::DateValueFormatter> m_time;
};

void exportTable(benchmark::State& state, bool withTime) {
    const std::int64_t rows = state.range(0);
    QTemporaryDir folder;
    const QString path = folder.filePath("export.csv");
    KODataExporter exporter(std::make_shared<SyntheticTable>(rows, withTime));
    for (auto _ : state) {
        if (exporter.startExportCsvToURL(QUrl::fromLocalFile(path)))
            state.SkipWithError("the export failed");
    }
    state.SetItemsProcessed(state.iterations() * rows);
    state.SetBytesProcessed(state.iterations() * QFileInfo(path).size());
}

void BM_ExportSplLogWithTimes(benchmark::State& state) {
    exportTable(state, true);
}

void BM_ExportLevelsOnly(benchmark::State& state) {
    exportTable(state, false);
}

} // namespace

BENCHMARK(BM_ExportSplLogWithTimes)->Arg(100000)->Arg(1000000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ExportLevelsOnly)->Arg(100000)->Arg(1000000)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
