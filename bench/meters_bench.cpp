// One 1024-frame engine pass over eight noise channels with the peak programme meters (the
// engine's own meters), a goniometer, an oscilloscope and a level integrator attached; and one
// redraw of each meter view. "period_share_pct" is the share of a 1024-frame period at 48 kHz
// (21.33 ms) that one pass takes. The pass includes re-arming the oscilloscope whenever its
// capture completed, as the collector would.

#include "engine/KOAD.h"
#include "framework/KOLevelHistoryView.h"
#include "meters/KOGoniometerInstrument.h"
#include "meters/KOLevelIntegrator.h"
#include "meters/KOMeterMath.h"
#include "meters/KOOscilloscopeInstrument.h"
#include "meters/ui/KOLevelDistributionView.h"
#include "meters/ui/KOMeterViews.h"
#include "platform/audio/DeviceRegistry.h"

#include <QApplication>
#include <QImage>
#include <QPainter>

#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
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

void metersPass(benchmark::State& state) {
    DeviceRegistry& registry = DeviceRegistry::shared();
    VirtualInputConfig config;
    config.name = "Meters Bench";
    config.channels = 8;
    config.sampleRate = 48000.0;
    config.manual = true;
    const std::uint32_t device = registry.addVirtualInput(config);
    {
        const int saved = silenceStdout();
        auto engine = std::make_unique<KOAD>(device, 1024);
        auto goniometer = std::make_unique<KOGoniometerInstrument>();
        auto scope = std::make_unique<KOOscilloscopeInstrument>();
        auto integrator = std::make_unique<KOLevelIntegrator>();
        engine->AddClient(goniometer.get());
        engine->AddClient(scope.get());
        engine->AddClient(integrator.get());
        goniometer->SetChannelA(0);
        goniometer->SetChannelB(1);
        scope->SetChannelA(0);
        scope->SetChannelB(1);
        integrator->SetChannel(2);
        restoreStdout(saved);
        const AudioBufferList* buffers = engine->BufferList();
        std::mt19937 random(5);
        std::uniform_real_distribution<float> noise(-0.5f, 0.5f);
        for (std::uint32_t c = 0; c < 8 && c < buffers->mNumberBuffers; ++c) {
            auto* data = static_cast<float*>(buffers->mBuffers[c].mData);
            for (std::uint32_t i = 0; i < 1024; ++i) {
                data[i] = noise(random);
            }
        }
        AudioTimeStamp time;
        const auto start = std::chrono::steady_clock::now();
        for (auto _ : state) {
            {
                std::lock_guard lock(engine->EngineMutex());
                engine->Process(&time, 1, 1024);
            }
            if (scope->IsComplete()) {
                scope->TakeSnapshot(nullptr, nullptr, 0, 1024);
            }
        }
        const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
        state.counters["period_share_pct"] =
            100.0 * elapsed.count() / double(state.iterations()) / kPeriodSeconds;
        const int quiet = silenceStdout();
        // Each instrument leaves its host on the way out, so they go before the engine.
        goniometer.reset();
        scope.reset();
        integrator.reset();
        engine.reset();
        restoreStdout(quiet);
    }
    registry.removeDevice(device);
}
BENCHMARK(metersPass)->Unit(benchmark::kMicrosecond);

template <typename View> void redraw(benchmark::State& state, const View& view, QSize size) {
    QImage image(size, QImage::Format_ARGB32_Premultiplied);
    for (auto _ : state) {
        QPainter painter(&image);
        view.drawContent(painter, size);
    }
}

void ppmRedraw(benchmark::State& state) {
    KODeviceInPPMView view;
    std::vector<KODeviceInPPMView::Meter> meters(8, {-12.0f, -3.0f, false, {}});
    meters[0].clipped = true;
    for (std::size_t k = 0; k < meters.size(); ++k) {
        meters[k].name = QStringLiteral("(%1) In %1").arg(k + 1); // names drawn: 400 long
    }
    view.setMeters(meters);
    redraw(state, view, QSize(200, 400));
}
BENCHMARK(ppmRedraw)->Unit(benchmark::kMicrosecond);

void goniometerRedraw(benchmark::State& state) {
    KOGoniometerView view;
    view.setDrawCorrelation(true);
    KOGoniometerInstrument::Block block;
    block.frames = 1024;
    std::mt19937 random(3);
    std::uniform_real_distribution<float> noise(-0.5f, 0.5f);
    for (std::uint32_t i = 0; i < 1024; ++i) {
        block.a[i] = noise(random);
        block.b[i] = 0.5f * block.a[i] + noise(random) * 0.5f;
    }
    const QSize size(400, 400);
    QImage image(size, QImage::Format_ARGB32_Premultiplied);
    for (auto _ : state) {
        view.drawBlock(block, size); // the collector's part
        QPainter painter(&image);
        view.drawContent(painter, size);
    }
}
BENCHMARK(goniometerRedraw)->Unit(benchmark::kMicrosecond);

void oscilloscopeRedraw(benchmark::State& state) {
    KOOscilloscopeView view;
    std::vector<float> a(800), b(800);
    for (std::size_t i = 0; i < a.size(); ++i) {
        a[i] = 0.8f * float(std::sin(double(i) * 0.05));
        b[i] = 0.4f * float(std::cos(double(i) * 0.11));
    }
    view.setTraces(a, b);
    redraw(state, view, QSize(800, 400));
}
BENCHMARK(oscilloscopeRedraw)->Unit(benchmark::kMicrosecond);

void distributionRedraw(benchmark::State& state) {
    KOLevelDistributionView view;
    view.resize(200, 400);
    view.show();
    view.setDistributionBound(2000);
    KOLevelDistributionView::Ring rms;
    KOLevelDistributionView::Ring peak;
    std::mt19937 random(9);
    std::uniform_real_distribution<float> level(0.2f, 0.9f);
    for (int i = 0; i < 2500; ++i) {
        const float value = level(random);
        rms.Push(value * 0.8f);
        peak.Push(value);
    }
    QImage image(view.size(), QImage::Format_ARGB32_Premultiplied);
    for (auto _ : state) {
        view.createRMSPathWithRingBuffer(rms); // the collector's part
        view.createPeakPathWithRingBuffer(peak);
        QPainter painter(&image);
        view.drawContent(painter);
    }
}
BENCHMARK(distributionRedraw)->Unit(benchmark::kMicrosecond);

void historyRedraw(benchmark::State& state) {
    KOLevelHistoryView view;
    view.resize(600, 300);
    view.show();
    KOLevelHistoryView::Ring rms;
    KOLevelHistoryView::Ring peak;
    std::mt19937 random(11);
    std::uniform_real_distribution<float> level(0.2f, 0.9f);
    for (int i = 0; i < 2500; ++i) {
        const float value = level(random);
        rms.Push(value * 0.8f);
        peak.Push(value);
    }
    QImage image(view.size(), QImage::Format_ARGB32_Premultiplied);
    for (auto _ : state) {
        view.createRMSPathWithRingBuffer(rms); // the collector's part
        view.createPeakPathWithRingBuffer(peak);
        QPainter painter(&image);
        view.drawContent(painter);
    }
}
BENCHMARK(historyRedraw)->Unit(benchmark::kMicrosecond);

} // namespace

int main(int argc, char** argv) {
    ::setenv("KORU_AUDIO_API", "virtual", 1);
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication application(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
