// Cost of one SPL meter per 1024-frame buffer at 48 kHz: the audio thread's Process plus the
// collector's level whenever a new spectrum came.
#include "platform/fourcc/FourCC.h"
#include "spl/KOSplInstrument.h"

#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdint>
#include <numbers>
#include <vector>

using koru::platform::fourCC;

namespace {

constexpr std::uint32_t kFrames = 1024;
constexpr double kRate = 48000.0;

// What the buffers hold does not change the cost; a tone keeps the level finite.
std::vector<float> toneBlock(std::uint32_t frames) {
    std::vector<float> samples(frames);
    for (std::uint32_t i = 0; i < frames; ++i)
        samples[i] = float(0.5 * std::sin(2.0 * std::numbers::pi * 1000.0 * i / kRate));
    return samples;
}

void BM_SplInstrumentPerBuffer(benchmark::State& state) {
    const std::uint32_t speed = state.range(0) == 0 ? fourCC("fast") : fourCC("slow");
    KOSplInstrument instrument(48000, speed, fourCC("a_wt"), kRate);
    // Without a host the instrument assumes 44.1 kHz; 48 kHz takes the same sizes.
    instrument.SampleRateChanged(kRate);
    std::vector<float> samples = toneBlock(kFrames);
    AudioBuffer buffer{1, kFrames * 4, samples.data()};
    const AudioBufferList list{1, &buffer};
    // Past the first window, so every hop analyses.
    for (std::uint32_t i = 0; i < 2 * instrument.FFTSize() / kFrames; ++i)
        instrument.Process(&list, kFrames);
    float level = 0.0f;
    for (auto _ : state) {
        instrument.Process(&list, kFrames);
        level = instrument.GetLevel();
        benchmark::DoNotOptimize(level);
    }
    state.SetLabel(speed == fourCC("fast") ? "fast, N 8192" : "slow, N 65536");
}

} // namespace

BENCHMARK(BM_SplInstrumentPerBuffer)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);

BENCHMARK_MAIN();
