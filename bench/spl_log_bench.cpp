// A day-long SPL log (86400 records, one a second) through the log store and its window: saving
// and loading the store (its size on disk is reported), plotting it in the logging window at one
// point per record and zoomed out to the whole day, and writing its CSV export.
#include "app/KODataExporter.h"
#include "spl/KOSPLLog.h"
#include "spl/KOSPLLogStore.h"
#include "spl/ui/KOSPLHistoryView.h"
#include "spl/ui/KOSPLLogExportSource.h"
#include "spl/ui/KOSPLLoggingController.h"
#include "utility/VEDate.h"

#include <QApplication>
#include <QFileInfo>
#include <QPixmap>
#include <QScrollArea>
#include <QScrollBar>
#include <QSlider>
#include <QTemporaryDir>
#include <QUrl>

#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdlib>
#include <memory>

namespace {

constexpr int kDay = 86400;

std::shared_ptr<KOSPLLog> dayLog() {
    static std::shared_ptr<KOSPLLog> log = [] {
        auto made = std::make_shared<KOSPLLog>();
        made->setName(QStringLiteral("A day"));
        made->setWeight(1633646452); // 'a_wt'
        made->setSpeed(1936486263);  // 'slow'
        const QDateTime start(QDate(2026, 12, 1), QTime(0, 0), Qt::UTC);
        for (int i = 0; i < kDay; ++i) {
            const float level = 70.0f + 15.0f * std::sin(float(i) * 0.003f);
            made->addSPL(level + 3.0f, level, level + 1.0f, start.addSecs(i));
        }
        return made;
    }();
    return log;
}

// What the main thread waits for when a finished log is added: the list's copy.
void BM_AddDayLogOnMain(benchmark::State& state) {
    QTemporaryDir folder;
    KOSPLLogStore store(folder.path());
    for (auto _ : state) {
        store.addLog(dayLog());
        state.PauseTiming();
        store.waitUntilSaved();
        store.removeLogsAtIndexes({0});
        store.waitUntilSaved();
        state.ResumeTiming();
    }
}
BENCHMARK(BM_AddDayLogOnMain)->Iterations(10)->Unit(benchmark::kMillisecond);

// The whole rewrite, done on the store's writer thread.
void BM_SaveDayLog(benchmark::State& state) {
    QTemporaryDir folder;
    KOSPLLogStore store(folder.path());
    for (auto _ : state) {
        store.addLog(dayLog());
        store.waitUntilSaved();
        state.PauseTiming();
        store.removeLogsAtIndexes({0});
        store.waitUntilSaved();
        state.ResumeTiming();
    }
    store.addLog(dayLog());
    store.waitUntilSaved();
    state.counters["bytes_on_disk"] =
        double(QFileInfo(folder.filePath(QString::fromLatin1(KOSPLLogStore::kFileName))).size());
}
BENCHMARK(BM_SaveDayLog)->Unit(benchmark::kMillisecond);

// Reading the store until the logs are in the list (on the store's thread in the program).
void BM_LoadDayLog(benchmark::State& state) {
    QTemporaryDir folder;
    KOSPLLogStore(folder.path()).addLog(dayLog());
    for (auto _ : state) {
        KOSPLLogStore store(folder.path(), KOSPLLogStore::Loading::InBackground);
        store.waitUntilLoaded();
        benchmark::DoNotOptimize(store.logs().front()->length());
    }
    state.counters["bytes_on_disk"] =
        double(QFileInfo(folder.filePath(QString::fromLatin1(KOSPLLogStore::kFileName))).size());
}
BENCHMARK(BM_LoadDayLog)->Unit(benchmark::kMillisecond);

// What the main thread spends making the store: the load itself runs on the store's thread.
void BM_LoadDayLogOnMain(benchmark::State& state) {
    QTemporaryDir folder;
    KOSPLLogStore(folder.path()).addLog(dayLog());
    for (auto _ : state) {
        auto store =
            std::make_unique<KOSPLLogStore>(folder.path(), KOSPLLogStore::Loading::InBackground);
        state.PauseTiming();
        store.reset();
        state.ResumeTiming();
    }
}
BENCHMARK(BM_LoadDayLogOnMain)->Iterations(10)->Unit(benchmark::kMillisecond);

// Selecting the log in the window and drawing what the window shows of its plot, at `zoom`
// records per point: the first frame after choosing the log.
void BM_PlotDayLog(benchmark::State& state) {
    QTemporaryDir folder;
    KOSPLLogStore store(folder.path());
    store.addLog(dayLog());
    KOSPLLoggingController controller(store);
    controller.window()->resize(1200, 300);
    controller.showWindow();
    controller.zoomSlider()->setValue(int(state.range(0)));
    KOSPLHistoryView* view = controller.historyView();
    for (auto _ : state) {
        view->setSplLog(nullptr);
        view->setSplLog(dayLog());
        const QRect visible = view->visibleRect().toRect();
        QPixmap target(visible.size());
        view->render(&target, QPoint(), QRegion(visible));
    }
}
BENCHMARK(BM_PlotDayLog)->Arg(1)->Arg(180)->Unit(benchmark::kMillisecond);

// Scrolling the plot by a page and drawing the new part.
void BM_ScrollDayLog(benchmark::State& state) {
    QTemporaryDir folder;
    KOSPLLogStore store(folder.path());
    store.addLog(dayLog());
    KOSPLLoggingController controller(store);
    controller.window()->resize(1200, 300);
    controller.showWindow();
    controller.zoomSlider()->setValue(int(state.range(0)));
    KOSPLHistoryView* view = controller.historyView();
    auto* bar =
        qobject_cast<QScrollArea*>(view->parentWidget()->parentWidget())->horizontalScrollBar();
    int page = 0;
    for (auto _ : state) {
        bar->setValue(bar->maximum() - (page++ % 50) * bar->pageStep());
        const QRect visible = view->visibleRect().toRect();
        QPixmap target(visible.size());
        view->render(&target, QPoint(), QRegion(visible));
    }
}
BENCHMARK(BM_ScrollDayLog)->Arg(1)->Arg(10)->Unit(benchmark::kMillisecond);

// The exporter panel's preview, on the main thread, of a day-long selection.
void BM_PreviewDayLogCsv(benchmark::State& state) {
    const auto log = dayLog();
    log->setSelectionRange(0, kDay);
    auto source = std::make_shared<KOSPLLogExportSource>(log);
    auto exporter = KODataExporter::exporterWithDataSource(source);
    exporter->setCsvKeys(source->headers());
    for (auto _ : state)
        benchmark::DoNotOptimize(exporter->csvPreviewString());
}
BENCHMARK(BM_PreviewDayLogCsv)->Unit(benchmark::kMillisecond);

// The file itself, written on the background queue while the panel shows the progress.
void BM_ExportDayLogCsv(benchmark::State& state) {
    QTemporaryDir folder;
    const QString path = folder.filePath(QStringLiteral("day.csv"));
    const auto log = dayLog();
    log->setSelectionRange(0, kDay);
    for (auto _ : state) {
        auto source = std::make_shared<KOSPLLogExportSource>(log);
        auto error = KODataExporter::exporterWithDataSource(source)->startExportCsvToURL(
            QUrl::fromLocalFile(path));
        if (error)
            state.SkipWithError("the export failed");
    }
    state.counters["csv_bytes"] = double(QFileInfo(path).size());
}
BENCHMARK(BM_ExportDayLogCsv)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
