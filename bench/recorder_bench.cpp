// The recorder's two halves: the audio thread's copy into the ring, and the writer's encoding and
// writing of one second of audio.
#include "platform/audiofile/AsyncAudioFileWriter.h"
#include "platform/audiofile/FFmpegFileSink.h"
#include "platform/audiofile/ResamplingFileSink.h"
#include "platform/fourcc/FourCC.h"

#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

using koru::platform::AsyncAudioFileWriter;
using koru::platform::fourCC;

namespace {

constexpr std::uint32_t kChannels = 8;
constexpr std::uint32_t kRate = 48000;

std::vector<float> oneSecond() {
    std::vector<float> frames(std::size_t(kRate) * kChannels);
    for (std::uint32_t i = 0; i < kRate; ++i)
        for (std::uint32_t c = 0; c < kChannels; ++c)
            frames[std::size_t(i) * kChannels + c] =
                0.8f * std::sin(float(i) * 0.01f * float(c + 1));
    return frames;
}

// CPU time per iteration = the writer's CPU time per second of 8-channel audio.
void BM_WriterWave24EightChannels(benchmark::State& state) {
    const std::vector<float> audio = oneSecond();
    const std::string path = "/tmp/koru_recorder_bench.wav";
    koru::platform::PcmFileSpec spec{fourCC("WAVE"), 24, false, false, kChannels, double(kRate)};
    for (auto _ : state) {
        auto sink = koru::platform::openPcmFileSink(path, spec);
        for (std::uint32_t at = 0; at < kRate; at += 4096) {
            const std::uint32_t n = std::min(4096u, kRate - at);
            sink->write(audio.data() + std::size_t(at) * kChannels, n);
        }
        benchmark::DoNotOptimize(sink->finish());
    }
    std::remove(path.c_str());
}
BENCHMARK(BM_WriterWave24EightChannels)->Unit(benchmark::kMillisecond)->Iterations(30);

// The same second of 8 channels encoded as AAC (128 kbit/s) into an M4A file.
void BM_WriterAacEightChannels(benchmark::State& state) {
    const std::vector<float> audio = oneSecond();
    const std::string path = "/tmp/koru_recorder_bench.m4a";
    for (auto _ : state) {
        auto sink = koru::platform::openCompressedFileSink(path, fourCC("aac "), kChannels,
                                                           double(kRate), 128000);
        for (std::uint32_t at = 0; at < kRate; at += 4096) {
            const std::uint32_t n = std::min(4096u, kRate - at);
            sink->write(audio.data() + std::size_t(at) * kChannels, n);
        }
        benchmark::DoNotOptimize(sink->finish());
    }
    std::remove(path.c_str());
}
BENCHMARK(BM_WriterAacEightChannels)->Unit(benchmark::kMillisecond)->Iterations(10);

// The same second from a 48 kHz device into a 44.1 kHz AAC file: the rate conversion on the
// writer thread comes on top of the encoder.
void BM_WriterAacResampledEightChannels(benchmark::State& state) {
    const std::vector<float> audio = oneSecond();
    const std::string path = "/tmp/koru_recorder_bench_44k.m4a";
    for (auto _ : state) {
        auto sink = koru::platform::makeResamplingSink(
            koru::platform::openCompressedFileSink(path, fourCC("aac "), kChannels, 44100.0,
                                                   128000),
            kChannels, double(kRate), 44100.0);
        for (std::uint32_t at = 0; at < kRate; at += 4096) {
            const std::uint32_t n = std::min(4096u, kRate - at);
            sink->write(audio.data() + std::size_t(at) * kChannels, n);
        }
        benchmark::DoNotOptimize(sink->finish());
    }
    std::remove(path.c_str());
}
BENCHMARK(BM_WriterAacResampledEightChannels)->Unit(benchmark::kMillisecond)->Iterations(5);

// What the audio thread pays per 1024-frame block: the mapped copy into the ring.
void BM_AudioThreadCopy(benchmark::State& state) {
    class NullSink : public koru::platform::AudioFileSink {
        bool write(const float*, std::uint64_t) override { return true; }
        bool finish() override { return true; }
    };
    AsyncAudioFileWriter writer(std::make_unique<NullSink>(), kChannels, 1u << 22);
    std::vector<std::vector<float>> channels(kChannels, std::vector<float>(1024, 0.5f));
    std::vector<AudioBuffer> buffers(kChannels);
    for (std::uint32_t c = 0; c < kChannels; ++c)
        buffers[c] = {1, 4096, channels[c].data()};
    AudioBufferList list{kChannels, buffers.data()};
    const std::int32_t map[kChannels] = {0, 1, 2, 3, 4, 5, 6, 7};
    for (auto _ : state) {
        if (writer.writeAsync(&list, map, 1024) != AsyncAudioFileWriter::Status::Ok)
            state.SkipWithError("ring overflow");
    }
    writer.close();
}
BENCHMARK(BM_AudioThreadCopy)->Iterations(2000);

} // namespace

BENCHMARK_MAIN();
