// The input path of one device buffer: the device callback hands its period to the input unit,
// which re-blocks it into 1024-frame blocks, renders each block through the channel map into
// the engine's buffer list and dispatches it to the clients. Reported per 1024-frame block.

#include "platform/audio/DeviceRegistry.h"
#include "zotools/ZOAudioInput.h"
#include "zotools/ZOInputClient.h"

#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

using koru::platform::DeviceRegistry;
using koru::platform::VirtualInputConfig;

namespace {

class Engine : public ZOAudioInput {
public:
    explicit Engine(AudioDeviceID device) : ZOAudioInput(device, 1024) {}
    void AfterProcess() override {}
    void ErrorHandler(std::uint64_t) override {}
};

// A client that only looks at its buffers, so the figure is the path's, not an instrument's.
class TouchClient : public ZOInputClient {
public:
    void Process(const AudioBufferList* buffers, std::uint32_t frames) override {
        for (std::uint32_t c = 0; c < buffers->mNumberBuffers; ++c) {
            const auto* data = static_cast<const float*>(buffers->mBuffers[c].mData);
            benchmark::DoNotOptimize(data[0] + data[frames - 1]);
        }
    }
    void SetNumberOfChannels(std::uint32_t count) override { m_numberOfChannels.store(count); }
    void ChannelsChanged(std::uint32_t, std::uint32_t) override {}
};

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

void inputPath(benchmark::State& state) {
    const auto channels = std::uint32_t(state.range(0));
    const auto period = std::uint32_t(state.range(1));
    DeviceRegistry& registry = DeviceRegistry::shared();
    VirtualInputConfig config;
    config.name = "Bench";
    config.channels = channels;
    config.periodFrames = period;
    config.manual = true; // silence: producing the device buffer costs one fill
    const std::uint32_t device = registry.addVirtualInput(config);
    {
        const int saved = silenceStdout(); // the engine narrates its set-up
        Engine engine(device);
        TouchClient client;
        engine.AddClient(&client);
        engine.Start();
        restoreStdout(saved);
        auto input = registry.virtualInput(device);
        // Whole blocks per iteration: lcm(period, 1024) frames.
        std::uint32_t frames = period;
        while (frames % 1024 != 0)
            frames += period;
        const std::uint32_t calls = frames / period;
        for (auto _ : state) {
            for (std::uint32_t i = 0; i < calls; ++i)
                input->pump(period);
        }
        const int quiet = silenceStdout();
        engine.Stop();
        restoreStdout(quiet);
        // Shown as time per 1024-frame block.
        state.counters["per_block"] = benchmark::Counter(
            double(frames / 1024),
            benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
    }
    registry.removeDevice(device);
}

} // namespace

BENCHMARK(inputPath)
    ->ArgNames({"channels", "period"})
    ->Args({2, 480})
    ->Args({2, 1024})
    ->Args({2, 4096})
    ->Args({32, 480})
    ->Args({32, 1024})
    ->Args({32, 4096})
    ->Unit(benchmark::kNanosecond);

int main(int argc, char** argv) {
    ::setenv("KORU_AUDIO_API", "virtual", 1);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
