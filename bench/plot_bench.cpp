// One spectrum trace of the largest FFT size on a wide plot: the collector-thread build
// (reduction, path, draw) and the main-thread composite, the two halves of every plot frame.
#include "engine/KOFloatBuffer.h"
#include "framework/KOFFTDrawingData.h"
#include "framework/KOFFTLayer.h"
#include "framework/YUpGeometry.h"
#include "framework/ZOLogViewMath.h"

#include <QGuiApplication>
#include <QImage>
#include <QPainter>

#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdlib>
#include <random>

namespace {

constexpr std::uint32_t kFFTSize = 65536;
constexpr double kNyquist = 24000.0;
constexpr double kWidth = 1200.0;
constexpr double kHeight = 600.0;

// Pink-ish noise with a few tones, as the analyser hands it over.
struct Trace {
    Trace() {
        std::mt19937 generator(1);
        std::uniform_real_distribution<float> noise(0.5f, 1.5f);
        float* bins = buffer.Data();
        for (std::uint32_t i = 0; i < kFFTSize / 2; ++i) {
            bins[i] = 1e-3f * noise(generator) / std::sqrt(float(i + 1));
        }
        for (std::uint32_t tone : {137u, 2731u, 9001u}) {
            bins[tone] = 0.5f;
        }
        data.SetBuffer(&buffer);
        data.UpdateParameters(3, 20.0, 20000.0, kWidth, kNyquist);
    }
    KOFloatBuffer buffer{kFFTSize};
    KOFFTDrawingData data{KOFFTDrawingData::kContinuous, true, -144.0};
};

void BM_BuildSpectrumTrace(benchmark::State& state) {
    Trace trace;
    for (auto _ : state) {
        KOFFTLayer layer(&trace.data.LogViewMath(), kWidth, kHeight, -120.0, 0.0);
        layer.draw(&trace.data);
        benchmark::DoNotOptimize(layer.image().constBits());
    }
}
BENCHMARK(BM_BuildSpectrumTrace)->Unit(benchmark::kMicrosecond);

void BM_CompositeSpectrumTrace(benchmark::State& state) {
    Trace trace;
    KOFFTLayer layer(&trace.data.LogViewMath(), kWidth, kHeight, -120.0, 0.0);
    layer.draw(&trace.data);
    layer.image();
    // A widget's backing store: opaque, premultiplied.
    QImage window(int(kWidth), int(kHeight), QImage::Format_ARGB32_Premultiplied);
    window.fill(QColor(33, 33, 33));
    for (auto _ : state) {
        QPainter painter(&window);
        koru::framework::YUpGeometry::flip(painter, kHeight);
        layer.drawAtPoint(painter, 0.0, 0.0);
        painter.end();
        benchmark::DoNotOptimize(window.constBits());
    }
}
BENCHMARK(BM_CompositeSpectrumTrace)->Unit(benchmark::kMicrosecond);

} // namespace

int main(int argc, char** argv) {
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QGuiApplication application(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
