// Sixteen spectrum analyser windows of 65536 points each, open and shown on a paced virtual input
// (real time, 48 kHz, noise) for ten seconds: the processor time the collector thread and the
// main thread spend on them together, as a share of one core, with the Qt pool threads that
// convert the painted images for the main thread. The whole process (the audio thread's one
// 65536-point FFT per analyser every 8192 frames included) is reported beside it.
#include "analysers/KOSpectrumAnalyzerWrapper.h"
#include "analysers/ui/KOFFTController.h"
#include "engine/DataCollectionClient.h"
#include "engine/KOAudioDevice.h"
#include "engine/KODataCollectorThread.h"
#include "framework/KOInstrumentControllerDelegate.h"
#include "platform/audio/DeviceRegistry.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QTimer>

#include <benchmark/benchmark.h>

#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <memory>
#include <vector>

namespace {

constexpr int kWindows = 16;
constexpr std::uint32_t kFFTSize = 65536;
constexpr int kSeconds = 10;

class Delegate : public KOInstrumentControllerDelegate {
public:
    void removeInstrument(KOInstrumentController*) override {}
    void instrumentDidHide(KOInstrumentController*) override {}
    void instrumentDidUnhide(KOInstrumentController*) override {}
    void setCurrentInstrument(KOInstrumentController*) override {}
    void instrumentDidResignCurrent(KOInstrumentController*) override {}
    void shouldSetSigGenMuteStatus(bool) override {}
    void instrumentControllerDidChangeName(KOInstrumentController*) override {}
    double audioDeviceSampleRate() override { return 48000.0; }
    std::uint32_t preferredOutputDevice() override { return 0; }
};

// Learns which thread the collector runs on.
class CollectorProbe : public koru::DataCollectionClient {
public:
    void dataCollection() override { tid.store(pid_t(syscall(SYS_gettid))); }
    std::atomic<pid_t> tid{0};
};

// User plus system time of a /proc stat file, in seconds.
double statSeconds(const QString& path) {
    QFile stat(path);
    if (!stat.open(QIODevice::ReadOnly))
        return 0.0;
    const QByteArray text = stat.readAll();
    // Fields after the command name, which is in parentheses and may hold spaces.
    const QList<QByteArray> fields = text.mid(text.lastIndexOf(')') + 2).split(' ');
    return (fields.value(11).toDouble() + fields.value(12).toDouble()) /
           double(sysconf(_SC_CLK_TCK));
}

double threadSeconds(pid_t tid) {
    return statSeconds(QStringLiteral("/proc/self/task/%1/stat").arg(tid));
}

double processSeconds() {
    return statSeconds(QStringLiteral("/proc/self/stat"));
}

// Qt hands large image conversions of the painting to its pool threads: their time is the main
// thread's drawing too.
double paintPoolSeconds() {
    double seconds = 0.0;
    for (const QString& task : QDir(QStringLiteral("/proc/self/task")).entryList(QDir::Dirs)) {
        QFile comm(QStringLiteral("/proc/self/task/%1/comm").arg(task));
        if (comm.open(QIODevice::ReadOnly) && comm.readAll().startsWith("Thread (pooled)"))
            seconds += threadSeconds(pid_t(task.toInt()));
    }
    return seconds;
}

// The program's own event loop: the main thread sleeps between its timers and repaints.
void runEventLoopFor(int milliseconds) {
    QEventLoop loop;
    QTimer::singleShot(milliseconds, &loop, &QEventLoop::quit);
    loop.exec();
}

void BM_SixteenSpectrumWindowsAt65536Points(benchmark::State& state) {
    koru::platform::VirtualInputConfig config;
    config.name = QStringLiteral("Bench Noise");
    config.channels = 2;
    config.sampleRate = 48000.0;
    config.channelSignals = {koru::platform::VirtualSignal::noise(0.5f, 1),
                             koru::platform::VirtualSignal::noise(0.5f, 2)};
    const std::uint32_t device = koru::platform::DeviceRegistry::shared().addVirtualInput(config);
    KOAudioDevice& audio = KOAudioDevice::sharedAudioDevice();
    audio.setAudioObjectID(device);
    audio.start();

    Delegate delegate;
    std::vector<std::unique_ptr<KOFFTController>> windows;
    for (int i = 0; i < kWindows; ++i) {
        auto window = KOInstrumentController::create<KOFFTController>(KOFFTController::kNibName,
                                                                      nullptr, &delegate);
        window->setFFTSizeOfModel(*window->selectedFFTModel(), kFFTSize);
        window->instrumentWindow()->move(40 * i, 30 * i);
        window->instrumentWindow()->show();
        windows.push_back(std::move(window));
    }
    CollectorProbe probe;
    KODataCollectorThread& collector = KODataCollectorThread::sharedCollectorThread();
    collector.addInstrumentController(&probe);
    // Past the first spectrum (2N frames) so every window draws.
    runEventLoopFor(3000);

    for (auto _ : state) {
        const pid_t main = pid_t(getpid());
        const double mainBefore = threadSeconds(main);
        const double collectorBefore = threadSeconds(probe.tid.load());
        const double processBefore = processSeconds();
        const double poolBefore = paintPoolSeconds();
        const std::uint64_t passesBefore = collector.passCount();
        QElapsedTimer clock;
        clock.start();
        runEventLoopFor(kSeconds * 1000);
        const double wall = double(clock.nsecsElapsed()) * 1e-9;
        const double mainCpu = threadSeconds(main) - mainBefore;
        const double collectorCpu = threadSeconds(probe.tid.load()) - collectorBefore;
        const double processCpu = processSeconds() - processBefore;
        const double poolCpu = paintPoolSeconds() - poolBefore;
        state.SetIterationTime(wall);
        state.counters["main_percent"] = 100.0 * mainCpu / wall;
        state.counters["collector_percent"] = 100.0 * collectorCpu / wall;
        state.counters["paint_pool_percent"] = 100.0 * poolCpu / wall;
        state.counters["main_and_collector_percent"] = 100.0 * (mainCpu + collectorCpu) / wall;
        state.counters["main_collector_and_pool_percent"] =
            100.0 * (mainCpu + collectorCpu + poolCpu) / wall;
        state.counters["whole_process_percent"] = 100.0 * processCpu / wall;
        state.counters["collector_passes_per_s"] =
            double(collector.passCount() - passesBefore) / wall;
    }
    collector.removeInstrumentController(&probe);
    windows.clear();
}
BENCHMARK(BM_SixteenSpectrumWindowsAt65536Points)
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kSecond);

} // namespace

int main(int argc, char** argv) {
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    setenv("KORU_AUDIO_API", "virtual", 0);
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
