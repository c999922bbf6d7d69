// One pass of the application engine over a 1024-frame buffer: summing channels, ring, meters,
// the clients (spectrum analysers at 65536 points, one analysis every 8192 frames) and the
// decibel conversion. The hardware channels hold noise; the device side of the input path is
// measured by audio_input_bench. "period_share_pct" is the share of a 1024-frame period at
// 48 kHz (21.33 ms) that one pass takes.

#include "engine/KOAD.h"
#include "engine/KOSpectrumAnalyzer.h"
#include "platform/audio/DeviceRegistry.h"
#include "platform/fourcc/FourCC.h"

#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <random>
#include <vector>

using koru::platform::DeviceRegistry;
using koru::platform::VirtualInputConfig;

namespace {

constexpr double kPeriodSeconds = 1024.0 / 48000.0;

int silenceStdout() {
    std::fflush(stdout);
    const int saved = ::dup(STDOUT_FILENO);
    const int null = ::open("/dev/null", O_WRONLY);
    ::dup2(null, STDOUT_FILENO);
    ::close(null);
    return saved;
}

void restoreStdout(int saved) {
    std::fflush(stdout);
    ::dup2(saved, STDOUT_FILENO);
    ::close(saved);
}

void fillWithNoise(const AudioBufferList* buffers, std::uint32_t channels) {
    std::mt19937 random(5);
    std::uniform_real_distribution<float> noise(-0.5f, 0.5f);
    for (std::uint32_t c = 0; c < channels && c < buffers->mNumberBuffers; ++c) {
        auto* data = static_cast<float*>(buffers->mBuffers[c].mData);
        for (std::uint32_t i = 0; i < 1024; ++i) {
            data[i] = noise(random);
        }
    }
}

void enginePass(benchmark::State& state) {
    const auto hardware = std::uint32_t(state.range(0));
    const auto analysers = std::uint32_t(state.range(1));
    DeviceRegistry& registry = DeviceRegistry::shared();
    VirtualInputConfig config;
    config.name = "Engine Bench";
    config.channels = hardware;
    config.sampleRate = 48000.0;
    config.manual = true;
    const std::uint32_t device = registry.addVirtualInput(config);
    {
        const int saved = silenceStdout(); // the engine narrates its set-up
        auto owned = std::make_unique<KOAD>(device, 1024);
        KOAD& engine = *owned;
        for (int i = 0; i < 2; ++i) {
            auto summing = std::make_unique<KOAuxSummingChannel>();
            summing->setChannelA(0);
            summing->setChannelB(1);
            engine.AddSummingChannel(std::move(summing));
        }
        std::vector<std::unique_ptr<KOSpectrumAnalyzer>> clients;
        for (std::uint32_t i = 0; i < analysers; ++i) {
            clients.push_back(
                std::make_unique<KOSpectrumAnalyzer>(65536, koru::platform::fourCC("hann")));
            engine.AddClient(clients.back().get());
            clients.back()->SetChannel(i % engine.TotalNumberOfChannels());
        }
        restoreStdout(saved);
        fillWithNoise(engine.BufferList(), hardware);

        AudioTimeStamp time;
        const auto start = std::chrono::steady_clock::now();
        for (auto _ : state) {
            // As the input callback does: the whole pass under the engine mutex.
            std::lock_guard lock(engine.EngineMutex());
            engine.Process(&time, 1, 1024);
        }
        const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
        state.counters["period_share_pct"] =
            100.0 * elapsed.count() / double(state.iterations()) / kPeriodSeconds;

        const int quiet = silenceStdout();
        clients.clear(); // each analyser leaves its host on the way out
        owned.reset();
        restoreStdout(quiet);
    }
    registry.removeDevice(device);
}

} // namespace

BENCHMARK(enginePass)
    ->ArgNames({"hardware", "spectra"})
    ->ArgsProduct({{2, 8, 32}, {0, 4, 16}})
    ->Unit(benchmark::kMicrosecond);

int main(int argc, char** argv) {
    ::setenv("KORU_AUDIO_API", "virtual", 1);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
