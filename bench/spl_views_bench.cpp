// The SPL history of a day-long log (86400 records) on a 1200x220 view, redrawn as the meter does
// once a second: at 1 point per record (the newest 1180 records) and zoomed out to 1/360 (every
// record of the day, in groups of 360). Also the read-out's redraw, 15 times a second.
#include "spl/KOSPLLog.h"
#include "spl/ui/KOSPLHistoryView.h"
#include "spl/ui/KOSplView.h"

#include <QApplication>
#include <QPixmap>

#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdlib>
#include <memory>

namespace {

std::shared_ptr<KOSPLLog> dayLog() {
    static std::shared_ptr<KOSPLLog> log = [] {
        auto made = std::make_shared<KOSPLLog>();
        for (int i = 0; i < 86400; ++i) {
            const float level = 70.0f + 15.0f * std::sin(float(i) * 0.003f);
            made->addSPL(level + 3.0f, level, level + 1.0f);
        }
        return made;
    }();
    return log;
}

void historyRedraw(benchmark::State& state, double speed) {
    KOSPLHistoryView view;
    view.resize(1200, 220);
    view.setSplLog(dayLog());
    view.setSpeed(speed);
    QPixmap target(view.size());
    for (auto _ : state) {
        view.splLogDidAddData(); // a new record: the paths are rebuilt
        view.render(&target);
    }
}

void BM_SplHistoryRedrawOnePointPerRecord(benchmark::State& state) {
    historyRedraw(state, 1.0);
}
BENCHMARK(BM_SplHistoryRedrawOnePointPerRecord)->Unit(benchmark::kMicrosecond);

void BM_SplHistoryRedrawWholeDay(benchmark::State& state) {
    historyRedraw(state, 1.0 / 360.0);
}
BENCHMARK(BM_SplHistoryRedrawWholeDay)->Unit(benchmark::kMicrosecond);

void BM_SplReadoutRedraw(benchmark::State& state) {
    KOSplView view;
    view.resize(281, 221);
    view.setValues({94.3f, 92.0f, 97.0f, 93.0f, 83.4f});
    view.setLeqRunTimeString(QStringLiteral("12:34"));
    view.setNextLEQResetTimeString(QStringLiteral("(17:26)"));
    QPixmap target(view.size());
    for (auto _ : state)
        view.render(&target);
}
BENCHMARK(BM_SplReadoutRedraw)->Unit(benchmark::kMicrosecond);

} // namespace

int main(int argc, char** argv) {
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication application(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
