#include "netaudio/NetAudioCodec.h"
#include "netaudio/NetReceiveUnit.h"
#include "netaudio/NetSendUnit.h"
#include "netaudio/StreamResampler.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <cmath>
#include <thread>
#include <vector>

using namespace koru::netaudio;

namespace {

constexpr std::uint32_t kFrames = 1024;
constexpr std::uint32_t kChannels = 8; // travels as four stereo streams

std::vector<std::vector<float>> signal() {
    std::vector<std::vector<float>> ch(kChannels, std::vector<float>(kFrames));
    for (std::uint32_t c = 0; c < kChannels; ++c)
        for (std::uint32_t i = 0; i < kFrames; ++i)
            ch[c][i] = 0.5f * std::sin(0.01f * float(i) * float(c + 1));
    return ch;
}

// One 1024-frame eight-channel buffer encoded, per format.
void BM_Encode(benchmark::State& state) {
    const auto codec = WireCodec(state.range(0));
    const auto ch = signal();
    std::vector<std::uint8_t> wire(encodedBytes(codec, kFrames));
    ImaState ima[kChannels / 2];
    for (auto _ : state) {
        for (std::uint32_t p = 0; p < kChannels / 2; ++p)
            encode(codec, ch[2 * p].data(), ch[2 * p + 1].data(), kFrames, wire.data(), ima[p]);
        benchmark::DoNotOptimize(wire.data());
    }
    state.SetLabel(formatName(std::uint32_t(codec)));
}
BENCHMARK(BM_Encode)->Arg(0)->Arg(1)->Arg(2)->Arg(5)->Arg(6);

void BM_Decode(benchmark::State& state) {
    const auto codec = WireCodec(state.range(0));
    auto ch = signal();
    std::vector<std::vector<std::uint8_t>> wire(
        kChannels / 2, std::vector<std::uint8_t>(encodedBytes(codec, kFrames)));
    ImaState ima;
    for (std::uint32_t p = 0; p < kChannels / 2; ++p)
        encode(codec, ch[2 * p].data(), ch[2 * p + 1].data(), kFrames, wire[p].data(), ima);
    for (auto _ : state) {
        for (std::uint32_t p = 0; p < kChannels / 2; ++p)
            decode(codec, wire[p].data(), wire[p].size(), kFrames, ch[2 * p].data(),
                   ch[2 * p + 1].data());
        benchmark::DoNotOptimize(ch[0].data());
    }
    state.SetLabel(formatName(std::uint32_t(codec)));
}
BENCHMARK(BM_Decode)->Arg(0)->Arg(1)->Arg(2)->Arg(5)->Arg(6);

// The receiving side's rate conversion: one 1024-frame stereo block from the sender's rate
// (the argument) to 48 kHz, as the network thread does it per block.
void BM_ReceiveConversion(benchmark::State& state) {
    const auto from = double(state.range(0));
    StreamResampler resampler;
    resampler.configure(from, 48000.0);
    const auto ch = signal();
    for (auto _ : state) {
        const std::uint32_t n = resampler.process(ch[0].data(), ch[1].data(), kFrames);
        benchmark::DoNotOptimize(resampler.left());
        benchmark::DoNotOptimize(n);
    }
    state.SetItemsProcessed(state.iterations() * kFrames);
}
BENCHMARK(BM_ReceiveConversion)->Arg(44100)->Arg(48000)->Arg(96000);

// From a 1024-frame push on the sender to those frames sitting decoded in the receiver's FIFO,
// over loopback TCP (network threads polling every 5 ms at most). The argument is the sender's
// rate; the receiver plays at 48 kHz, converting when they differ.
void BM_LoopbackLatency(benchmark::State& state) {
    const auto rate = double(state.range(0));
    NetSendUnit sender("KORU Net Send Bench", "127.0.0.1");
    sender.setSampleRate(rate);
    NetReceiveUnit receiver;
    receiver.setSampleRate(48000.0);
    receiver.connectTo("127.0.0.1", sender.port());
    while (receiver.status() != NetStatus::Connected)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    std::vector<float> l(kFrames, 0.1f), r(kFrames, 0.1f);
    float* out[2] = {l.data(), r.data()};
    for (auto _ : state) {
        const auto before = receiver.buffered();
        const auto start = std::chrono::steady_clock::now();
        sender.push(l.data(), r.data(), kFrames);
        // The converter holds back a few frames of each block.
        const auto arrived = std::uint64_t(double(kFrames) * 48000.0 / rate) - 64;
        while (receiver.buffered() < before + arrived)
            std::this_thread::yield();
        state.SetIterationTime(
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
        if (receiver.buffered() > 32768)
            for (int i = 0; i < 28; ++i)
                receiver.render(out, kFrames);
    }
}
BENCHMARK(BM_LoopbackLatency)
    ->Arg(48000)
    ->Arg(44100)
    ->UseManualTime()
    ->Unit(benchmark::kMicrosecond)
    ->Iterations(500);

} // namespace

BENCHMARK_MAIN();
