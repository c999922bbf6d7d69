// The level history of a full ring and a whole impulse response, each on a 1200x600 view: the
// collector-thread path build and the drawing, the two halves of every redraw.
#include "engine/SDFloatVector.h"
#include "framework/KOFloatVectorView.h"
#include "framework/KOLevelHistoryView.h"

#include <QApplication>
#include <QImage>
#include <QPainter>

#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdlib>
#include <memory>
#include <random>
#include <vector>

namespace {

constexpr int kWidth = 1200;
constexpr int kHeight = 600;
constexpr std::uint64_t kVectorLength = 65536;
// More vectors than the view caches, so that every drawing reduces afresh.
constexpr std::size_t kDistinctVectors = 40;

using Ring = KOLevelHistoryAndDistributionView::Ring;

// Two rings as the level history fills them: a noisy programme level and its peaks.
struct Rings {
    Rings() {
        std::mt19937 generator(1);
        std::normal_distribution<float> wobble(0.0f, 0.03f);
        for (std::size_t i = 0; i < Ring::capacity() + 1; ++i) {
            const float level = 0.45f + 0.2f * std::sin(float(i) * 0.01f) + wobble(generator);
            rms.Push(std::clamp(level, 0.0f, 1.0f));
            peak.Push(std::clamp(level + 0.15f + std::fabs(wobble(generator)), 0.0f, 1.0f));
        }
    }
    Ring rms;
    Ring peak;
};

// At the slowest speed the whole ring is on screen.
struct HistoryView {
    HistoryView() {
        view.resize(kWidth, kHeight);
        view.show();
        view.setSpeed(KOLevelHistoryView::kMinimumSpeed);
        view.createBackingLayer();
    }
    KOLevelHistoryView view;
};

// A decaying noise burst, the shape of a measured impulse response, scaled as the unscaled
// inverse FFT leaves it.
std::shared_ptr<SDFloatVector> impulseResponse(unsigned seed) {
    std::mt19937 generator(seed);
    std::normal_distribution<float> noise(0.0f, 1.0f);
    auto vector = SDFloatVector::vectorWithLength(kVectorLength);
    float* samples = vector->mutableData();
    for (std::uint64_t i = 0; i < kVectorLength; ++i) {
        const float envelope = i < 2000 ? 0.0f : std::exp(-float(i - 2000) / 6000.0f);
        samples[i] = float(kVectorLength) * 0.5f * envelope * noise(generator);
    }
    samples[2000] = float(kVectorLength);
    return vector;
}

QImage viewImage() {
    QImage image(kWidth, kHeight, QImage::Format_ARGB32_Premultiplied);
    image.fill(QColor(33, 33, 33));
    return image;
}

void BM_LevelHistoryBuildPaths(benchmark::State& state) {
    Rings rings;
    HistoryView history;
    for (auto _ : state) {
        history.view.createPeakPathWithRingBuffer(rings.peak);
        history.view.createRMSPathWithRingBuffer(rings.rms);
    }
    state.counters["points"] = double(history.view.peakPath().elementCount());
}
BENCHMARK(BM_LevelHistoryBuildPaths)->Unit(benchmark::kMicrosecond);

void BM_LevelHistoryDraw(benchmark::State& state) {
    Rings rings;
    HistoryView history;
    history.view.createPeakPathWithRingBuffer(rings.peak);
    history.view.createRMSPathWithRingBuffer(rings.rms);
    QImage image = viewImage();
    for (auto _ : state) {
        QPainter painter(&image);
        history.view.drawContent(painter);
        painter.end();
        benchmark::DoNotOptimize(image.constBits());
    }
}
BENCHMARK(BM_LevelHistoryDraw)->Unit(benchmark::kMicrosecond);

void BM_LevelHistoryFrame(benchmark::State& state) {
    Rings rings;
    HistoryView history;
    QImage image = viewImage();
    for (auto _ : state) {
        history.view.createPeakPathWithRingBuffer(rings.peak);
        history.view.createRMSPathWithRingBuffer(rings.rms);
        QPainter painter(&image);
        history.view.drawContent(painter);
        painter.end();
        benchmark::DoNotOptimize(image.constBits());
    }
}
BENCHMARK(BM_LevelHistoryFrame)->Unit(benchmark::kMicrosecond);

struct VectorView {
    VectorView() {
        view.resize(kWidth, kHeight);
        view.show();
    }
    KOFloatVectorView view;
};

// A new vector every time: reduction, points and drawing.
void BM_FloatVectorDrawFresh(benchmark::State& state) {
    std::vector<std::shared_ptr<SDFloatVector>> vectors;
    for (unsigned i = 0; i < kDistinctVectors; ++i) {
        vectors.push_back(impulseResponse(i + 1));
    }
    VectorView shown;
    shown.view.setVector(vectors.front());
    shown.view.setZoom(double(kWidth) / double(kVectorLength));
    QImage image = viewImage();
    std::size_t next = 0;
    for (auto _ : state) {
        shown.view.setVector(vectors[next]);
        next = (next + 1) % vectors.size();
        shown.view.drawVector(image);
        benchmark::DoNotOptimize(image.constBits());
    }
}
BENCHMARK(BM_FloatVectorDrawFresh)->Unit(benchmark::kMicrosecond);

// The same vector redrawn: the cached reduction, as on a repaint without a scroll.
void BM_FloatVectorDrawCached(benchmark::State& state) {
    VectorView shown;
    shown.view.setVector(impulseResponse(1));
    shown.view.setZoom(double(kWidth) / double(kVectorLength));
    QImage image = viewImage();
    for (auto _ : state) {
        shown.view.drawVector(image);
        benchmark::DoNotOptimize(image.constBits());
    }
}
BENCHMARK(BM_FloatVectorDrawCached)->Unit(benchmark::kMicrosecond);

} // namespace

int main(int argc, char** argv) {
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication application(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
