// The spectral history on a 1200x600 view: one redraw with every row of the history written
// (grid, the scaled image added onto it), and the image queue's work for one row of a
// 16384-point spectrum.
#include "analysers/ui/KOSpectralHistoryView.h"
#include "analysers/ui/SpectralHistoryImage.h"
#include "platform/dispatch/SerialQueue.h"
#include "platform/fourcc/FourCC.h"

#include <QApplication>
#include <QImage>
#include <QPainter>

#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdlib>
#include <random>
#include <vector>

namespace {

constexpr int kWidth = 1200;
constexpr int kHeight = 600;
constexpr double kNyquist = 24000.0;
constexpr std::size_t kHalfSize = 8192;

// Pink-ish noise around -60 dB with a few tones: every colour of the range appears.
std::vector<float> spectrum(std::mt19937& generator) {
    std::lognormal_distribution<float> noise(0.0f, 0.5f);
    std::vector<float> values(kHalfSize);
    for (std::size_t k = 1; k < kHalfSize; ++k) {
        values[k] = 1e-3f * noise(generator) / std::sqrt(float(k));
    }
    for (const std::size_t tone : {40u, 341u, 1200u, 4000u}) {
        values[tone] = 0.3f;
    }
    return values;
}

QImage viewImage() {
    QImage image(kWidth, kHeight, QImage::Format_ARGB32_Premultiplied);
    image.fill(QColor(33, 33, 33));
    return image;
}

void BM_SpectralHistoryRedraw(benchmark::State& state) {
    KOSpectralHistoryView view(nullptr, kNyquist);
    view.resize(kWidth, kHeight);
    view.show();
    view.setLoMagLimit(-80.0f);
    view.setHiMagLimit(-10.0f);
    view.imageQueue().waitUntilIdle();
    std::mt19937 generator(1);
    const auto rows = view.historyImage()->numSlices();
    // Every row written, then its image.
    for (std::uint32_t i = 0; i < 2 * rows + 2; ++i) {
        view.buildLayerWithSpectrum(spectrum(generator), kNyquist);
        view.imageQueue().waitUntilIdle();
    }
    QImage image = viewImage();
    for (auto _ : state) {
        QPainter painter(&image);
        view.drawContent(painter);
        painter.end();
        benchmark::DoNotOptimize(image.constBits());
    }
    state.counters["rows"] = double(rows);
}
BENCHMARK(BM_SpectralHistoryRedraw)->Unit(benchmark::kMicrosecond);

void BM_SpectralHistoryRow(benchmark::State& state) {
    koru::analysers::SpectralHistoryImage image;
    image.initializeBuffers(kWidth, kHeight);
    const koru::analysers::SpectralHistoryColourMap colours(-80.0, -10.0);
    koru::analysers::SpectralHistoryRowSettings settings;
    settings.nyquist = kNyquist;
    settings.accumulationMode = koru::platform::fourCC("pink");
    settings.octaveMode = 12;
    std::mt19937 generator(2);
    const std::vector<float> values = spectrum(generator);
    for (auto _ : state) {
        image.processInput(values, settings, colours);
        image.createImage();
    }
}
BENCHMARK(BM_SpectralHistoryRow)->Unit(benchmark::kMicrosecond);

} // namespace

int main(int argc, char** argv) {
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication application(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
