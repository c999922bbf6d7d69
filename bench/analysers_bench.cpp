// One collector pass of a live spectrum model at 65536 points: the newest spectrum copied out of
// the analyser, then the average and the peak hold over its 32768 bins, all under the model's
// lock. The analyser is paused on a spectrum of noise, so every pass takes the whole path, as the
// collector's passes do while the window is paused. "period_share_pct" is the share of one
// analysis interval (8192 frames at 48 kHz, 170.7 ms) that a pass takes.

#include "analysers/KOSpectrumAnalyzerWrapper.h"
#include "engine/KOSpectrumAnalyzer.h"
#include "platform/audio/AudioTypes.h"

#include <QApplication>

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdlib>
#include <random>
#include <vector>

namespace {

void collectorPass(benchmark::State& state) {
    const auto size = std::uint32_t(state.range(0));
    auto wrapper = KOSpectrumAnalyzerWrapper::createWithFFTSize(size);
    KOSpectrumAnalyzer& analyzer = *wrapper->analyzer();

    std::vector<float> block(1024);
    std::mt19937 generator(5);
    std::uniform_real_distribution<float> uniform(-0.5f, 0.5f);
    AudioBuffer entry{1, std::uint32_t(block.size() * sizeof(float)), block.data()};
    AudioBufferList list{1, &entry};
    while (analyzer.Analyses() <= KOSpectrumAnalyzerWrapper::kSpectraBeforeAveraging) {
        for (float& sample : block)
            sample = uniform(generator);
        analyzer.Process(&list, std::uint32_t(block.size()));
    }
    wrapper->setPause(true);

    const auto start = std::chrono::steady_clock::now();
    for (auto _ : state) {
        wrapper->collect();
        benchmark::ClobberMemory();
    }
    const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
    const double interval = double(size / 8) / 48000.0;
    state.counters["period_share_pct"] =
        100.0 * elapsed.count() / double(state.iterations()) / interval;
}

} // namespace

BENCHMARK(collectorPass)->ArgName("points")->Arg(65536)->Unit(benchmark::kMicrosecond);

int main(int argc, char** argv) {
    ::setenv("KORU_AUDIO_API", "virtual", 1);
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication application(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
