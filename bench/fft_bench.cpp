// The spectrum path (fetch, window, packed FFT, magnitudes) against a bare FFTW transform of the
// same size: the packing and windowing must stay cheap next to the transform itself.
#include "engine/KOComplexBuffer.h"
#include "engine/KOFFTBox.h"
#include "engine/KOFloatBuffer.h"
#include "engine/PackedRealFFT.h"
#include "platform/fourcc/FourCC.h"

#include <benchmark/benchmark.h>
#include <fftw3.h>

#include <cmath>
#include <cstring>
#include <mutex>

namespace {

KOFloatBuffer testSignal(std::uint32_t n) {
    KOFloatBuffer signal(n);
    for (std::uint32_t i = 0; i < n; ++i)
        signal.Data()[i] = 0.5f * std::sin(0.01f * float(i)) + 0.1f * std::cos(0.3f * float(i));
    return signal;
}

void BM_BareFFTW(benchmark::State& state) {
    const auto n = std::uint32_t(state.range(0));
    auto* in = static_cast<float*>(fftwf_malloc(sizeof(float) * n));
    auto* out = static_cast<fftwf_complex*>(fftwf_malloc(sizeof(fftwf_complex) * (n / 2 + 1)));
    fftwf_plan plan = nullptr;
    {
        const std::scoped_lock lock(koru::platform::fftwPlannerMutex());
        plan = fftwf_plan_dft_r2c_1d(int(n), in, out, FFTW_ESTIMATE);
    }
    const auto signal = testSignal(n);
    std::memcpy(in, signal.Data(), sizeof(float) * n);
    for (auto _ : state) {
        fftwf_execute_dft_r2c(plan, in, out);
        benchmark::DoNotOptimize(out);
        benchmark::ClobberMemory();
    }
    {
        const std::scoped_lock lock(koru::platform::fftwPlannerMutex());
        fftwf_destroy_plan(plan);
    }
    fftwf_free(in);
    fftwf_free(out);
}

// Forward windows its input in place: the block is restored outside the timed region, or the
// repeated windowing would run the samples off to zero or infinity.
void BM_BoxForward(benchmark::State& state) {
    const auto n = std::uint32_t(state.range(0));
    KOFFTBox box(n, koru::platform::fourCC("hann"));
    const auto signal = testSignal(n);
    KOFloatBuffer block(n);
    for (auto _ : state) {
        state.PauseTiming();
        std::memcpy(block.Data(), signal.Data(), sizeof(float) * n);
        state.ResumeTiming();
        benchmark::DoNotOptimize(box.Forward(block).Real().Data());
        benchmark::ClobberMemory();
    }
}

void BM_SpectrumPath(benchmark::State& state) {
    const auto n = std::uint32_t(state.range(0));
    KOFFTBox box(n, koru::platform::fourCC("hann"));
    const auto signal = testSignal(n);
    KOFloatBuffer block(n);
    KOFloatBuffer magnitudes(n);
    for (auto _ : state) {
        state.PauseTiming();
        std::memcpy(block.Data(), signal.Data(), sizeof(float) * n);
        state.ResumeTiming();
        box.Forward(block).Magnitudes(magnitudes);
        benchmark::DoNotOptimize(magnitudes.Data());
        benchmark::ClobberMemory();
    }
}

} // namespace

BENCHMARK(BM_BareFFTW)->RangeMultiplier(2)->Range(8192, 65536);
BENCHMARK(BM_BoxForward)->RangeMultiplier(2)->Range(8192, 65536);
BENCHMARK(BM_SpectrumPath)->RangeMultiplier(2)->Range(8192, 65536);

BENCHMARK_MAIN();
