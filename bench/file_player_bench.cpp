// The file player's cost per 1024-frame buffer of a 44.1 kHz stereo file played at 48 kHz: the
// audio thread's render (a copy out of the FIFO) and the disk thread's work for the same buffer
// (decode and rate conversion).

#include "engine/FilePlayerStream.h"
#include "engine/FilePlayerUnit.h"
#include "platform/audiofile/AudioFileReader.h"

#include <QString>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>
#include <sndfile.h>

#include <cmath>
#include <numbers>
#include <string>
#include <vector>

namespace {

constexpr std::uint32_t kBuffer = 1024;

// Ten seconds of two tones, written once for all benchmarks.
const std::string& testFile() {
    static QTemporaryDir folder;
    static const std::string path = [] {
        const std::string made = folder.filePath(QStringLiteral("tones.wav")).toStdString();
        SF_INFO info{};
        info.samplerate = 44100;
        info.channels = 2;
        info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
        std::vector<float> frames(std::size_t(info.samplerate) * 10 * 2);
        for (std::size_t i = 0; i < frames.size() / 2; ++i) {
            const double t = double(i) / info.samplerate;
            frames[2 * i] = float(0.5 * std::sin(2.0 * std::numbers::pi * 1000.0 * t));
            frames[2 * i + 1] = float(0.25 * std::sin(2.0 * std::numbers::pi * 3000.0 * t));
        }
        SNDFILE* file = sf_open(made.c_str(), SFM_WRITE, &info);
        sf_writef_float(file, frames.data(), sf_count_t(frames.size() / 2));
        sf_close(file);
        return made;
    }();
    return path;
}

void audioThreadRender(benchmark::State& state) {
    koru::FilePlayerUnit player;
    player.setSampleRate(48000.0);
    player.load(QString::fromStdString(testFile()));
    player.setLoop(true);
    player.play();
    player.waitUntilIdle();
    std::vector<float> left(kBuffer);
    std::vector<float> right(kBuffer);
    float* channels[2] = {left.data(), right.data()};
    std::int64_t sinceFill = 0;
    for (auto _ : state) {
        player.render(channels, kBuffer);
        benchmark::DoNotOptimize(left.data());
        // The FIFO holds two seconds; let the disk catch up well before it runs dry.
        if (++sinceFill == 64) {
            state.PauseTiming();
            player.waitUntilIdle();
            sinceFill = 0;
            state.ResumeTiming();
        }
    }
    state.counters["underruns"] = double(player.underruns());
    state.SetItemsProcessed(state.iterations() * kBuffer);
}

void diskThreadProduce(benchmark::State& state) {
    koru::FilePlayerStream stream(koru::platform::AudioFileReader::open(testFile()), 48000.0);
    stream.setLoop(true);
    std::vector<float> left(kBuffer);
    std::vector<float> right(kBuffer);
    float* channels[2] = {left.data(), right.data()};
    for (auto _ : state) {
        benchmark::DoNotOptimize(stream.produce(channels, kBuffer));
        benchmark::DoNotOptimize(left.data());
        // The wraps list grows by one per pass through the file; the player takes it each time.
        if (stream.produced() % (kBuffer * 256) < kBuffer) {
            benchmark::DoNotOptimize(stream.takeWraps());
        }
    }
    state.SetItemsProcessed(state.iterations() * kBuffer);
}

} // namespace

BENCHMARK(audioThreadRender);
BENCHMARK(diskThreadProduce);

BENCHMARK_MAIN();
