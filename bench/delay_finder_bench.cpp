// The delay finder's one heavy step, at its only (and largest) size of 65536 points: both
// forward FFTs, the transfer function, the inverse FFT and the peak search, as the collector
// thread runs it once per measurement. Beside it, what the audio thread pays per 1024-frame
// buffer while the finder records.

#include "engine/KODelayFinder.h"
#include "platform/audio/AudioTypes.h"

#include <benchmark/benchmark.h>

#include <cstdint>
#include <memory>
#include <random>
#include <vector>

namespace {

constexpr std::uint32_t kBuffer = 1024;
constexpr std::int64_t kDelay = 480;

// Noise on the source, the same noise 480 samples later on the response.
struct Input {
    explicit Input(std::uint32_t frames) : source(frames + kDelay), response(frames + kDelay) {
        std::mt19937 generator(9);
        std::uniform_real_distribution<float> uniform(-1.0f, 1.0f);
        for (float& sample : source)
            sample = uniform(generator);
        for (std::size_t i = kDelay; i < response.size(); ++i)
            response[i] = 0.5f * source[i - kDelay];
    }
    void feed(KODelayFinder& finder, std::uint32_t frames) {
        for (std::uint32_t start = 0; start < frames; start += kBuffer) {
            AudioBuffer entries[2] = {{1, kBuffer * 4, source.data() + start},
                                      {1, kBuffer * 4, response.data() + start}};
            AudioBufferList list{2, entries};
            finder.Process(&list, kBuffer);
        }
    }
    std::vector<float> source;
    std::vector<float> response;
};

void computeDelay(benchmark::State& state) {
    const auto size = std::uint32_t(state.range(0));
    Input input(size);
    for (auto _ : state) {
        state.PauseTiming();
        auto finder = std::make_unique<KODelayFinder>(size);
        input.feed(*finder, size);
        state.ResumeTiming();
        const std::uint32_t delay = finder->ComputeDelay();
        benchmark::DoNotOptimize(delay);
        state.PauseTiming();
        if (delay != kDelay)
            state.SkipWithError("wrong delay");
        finder.reset();
        state.ResumeTiming();
    }
}
BENCHMARK(computeDelay)->Arg(KODelayFinder::kDefaultFFTSize)->Unit(benchmark::kMillisecond);

void processWhileRecording(benchmark::State& state) {
    Input input(kBuffer);
    AudioBuffer entries[2] = {{1, kBuffer * 4, input.source.data()},
                              {1, kBuffer * 4, input.response.data()}};
    AudioBufferList list{2, entries};
    auto finder = std::make_unique<KODelayFinder>();
    std::uint32_t fed = 0;
    for (auto _ : state) {
        finder->Process(&list, kBuffer);
        if (++fed == KODelayFinder::kDefaultFFTSize / kBuffer) {
            state.PauseTiming();
            finder = std::make_unique<KODelayFinder>();
            fed = 0;
            state.ResumeTiming();
        }
    }
}
BENCHMARK(processWhileRecording)->Unit(benchmark::kMicrosecond);

} // namespace

BENCHMARK_MAIN();
