// Benchmarks of the analysers' models and signal processing.
//
// One collector pass of a live spectrum model at 65536 points: the newest spectrum copied out of
// the analyser, then the average and the peak hold over its 32768 bins, all under the model's
// lock. The analyser is paused on a spectrum of noise, so every pass takes the whole path, as the
// collector's passes do while the window is paused. "period_share_pct" is the share of one
// analysis interval (8192 frames at 48 kHz, 170.7 ms) that a pass takes.

#include "analysers/KOSpectrumAnalyzerWrapper.h"
#include "analysers/KOTransferMeasurementWrapper.h"
#include "engine/KOSpectrumAnalyzer.h"
#include "engine/KOTransferAnalyzer.h"
#include "platform/audio/AudioTypes.h"
#include "platform/fourcc/FourCC.h"

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

// Two channels of noise, 64 engine buffers long, played round and round.
struct NoiseBlocks {
    static constexpr std::uint32_t kFrames = 1024;
    static constexpr std::size_t kBlocks = 64;
    NoiseBlocks() : source(kFrames * kBlocks), response(kFrames * kBlocks) {
        std::mt19937 generator(9);
        std::uniform_real_distribution<float> uniform(-0.5f, 0.5f);
        for (std::size_t i = 0; i < source.size(); ++i) {
            source[i] = uniform(generator);
            response[i] = 0.5f * source[i] + 0.1f * uniform(generator);
        }
        list.mNumberBuffers = 2;
        list.mBuffers = entries;
    }
    const AudioBufferList* next() {
        const std::size_t offset = (index++ % kBlocks) * kFrames;
        entries[0] = AudioBuffer{1, kFrames * sizeof(float), source.data() + offset};
        entries[1] = AudioBuffer{1, kFrames * sizeof(float), response.data() + offset};
        return &list;
    }
    std::vector<float> source;
    std::vector<float> response;
    AudioBuffer entries[2]{};
    AudioBufferList list{};
    std::size_t index = 0;
};

// The audio thread's cost per 1024-frame buffer: the transfer analyser (two rings, a frame pair
// every N/4 frames, the sums and, per buffer with a step, H and the coherence) against the
// spectrum analyser of the same size on the same input. "ns_per_frame" divides by 1024.
void transferProcess(benchmark::State& state) {
    KOTransferAnalyzer analyzer(std::uint32_t(state.range(0)), koru::platform::fourCC("hann"));
    analyzer.SetNumberOfChannels(2);
    analyzer.SetAveragingRate(0.9f);
    NoiseBlocks blocks;
    for (std::size_t i = 0; i < 2 * NoiseBlocks::kBlocks; ++i)
        analyzer.Process(blocks.next(), NoiseBlocks::kFrames);
    for (auto _ : state)
        analyzer.Process(blocks.next(), NoiseBlocks::kFrames);
    state.counters["ns_per_frame"] =
        benchmark::Counter(double(state.iterations()) * NoiseBlocks::kFrames,
                           benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

void spectrumProcess(benchmark::State& state) {
    KOSpectrumAnalyzer analyzer(std::uint32_t(state.range(0)), koru::platform::fourCC("hann"));
    analyzer.SetNumberOfChannels(2);
    NoiseBlocks blocks;
    for (std::size_t i = 0; i < 2 * NoiseBlocks::kBlocks; ++i)
        analyzer.Process(blocks.next(), NoiseBlocks::kFrames);
    for (auto _ : state)
        analyzer.Process(blocks.next(), NoiseBlocks::kFrames);
    state.counters["ns_per_frame"] =
        benchmark::Counter(double(state.iterations()) * NoiseBlocks::kFrames,
                           benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

// One collector pass of a live transfer model: |H|², the phase and the coherence of every bin
// copied into the model's results under its lock.
void transferCollect(benchmark::State& state) {
    auto model = KORTTransferMeasWrapper::createWithFFTSize(std::uint32_t(state.range(0)));
    model->setDrawPhi(true);
    KOTransferAnalyzer& analyzer = *model->analyzer();
    analyzer.SetNumberOfChannels(2);
    NoiseBlocks blocks;
    for (std::size_t i = 0; i < 2 * NoiseBlocks::kBlocks; ++i)
        analyzer.Process(blocks.next(), NoiseBlocks::kFrames);
    for (auto _ : state) {
        model->collect();
        benchmark::ClobberMemory();
    }
}

} // namespace

BENCHMARK(collectorPass)->ArgName("points")->Arg(65536)->Unit(benchmark::kMicrosecond);
BENCHMARK(transferProcess)->ArgName("points")->Arg(65536)->Unit(benchmark::kMicrosecond);
BENCHMARK(spectrumProcess)->ArgName("points")->Arg(65536)->Unit(benchmark::kMicrosecond);
BENCHMARK(transferCollect)->ArgName("points")->Arg(65536)->Unit(benchmark::kMicrosecond);

int main(int argc, char** argv) {
    ::setenv("KORU_AUDIO_API", "virtual", 1);
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication application(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
