// The link between KORU and its SPL service: what one message costs to frame and read, and a
// whole call answered by the other end, alone and with many callers at once (as the service's
// HTTP workers make them under load).
#include "platform/link/LinkConnection.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <thread>
#include <vector>

#include <sys/socket.h>

namespace {

using koru::link::FrameDecoder;
using koru::link::LinkConnection;

// A meter document of the size the service really carries.
const QByteArray kDocument(620, 'x');

QVariantMap callMessage() {
    return {{"kind", "call"},
            {"id", qint64(12345)},
            {"op", "splDataDictionaryFromInstrument"},
            {"args", QVariantMap{{"name", "Meter 1"}}}};
}

void BM_FrameEncodeDecode(benchmark::State& state) {
    const QVariantMap reply{
        {"kind", "reply"}, {"id", qint64(12345)}, {"reply", QVariantMap{{"data", kDocument}}}};
    for (auto _ : state) {
        FrameDecoder decoder;
        for (const QVariantMap& message : {callMessage(), reply}) {
            const QByteArray frame = koru::link::encodeFrame(message);
            decoder.append(frame.constData(), std::size_t(frame.size()));
            benchmark::DoNotOptimize(decoder.next());
        }
    }
}
BENCHMARK(BM_FrameEncodeDecode)->Unit(benchmark::kMicrosecond);

// Calls per second through a socket pair; the argument is the number of concurrent callers.
void BM_CallRoundTrip(benchmark::State& state) {
    int fds[2] = {-1, -1};
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) != 0) {
        state.SkipWithError("no socket pair");
        return;
    }
    LinkConnection service(fds[0], nullptr, nullptr);
    LinkConnection koru(
        fds[1],
        [](const QString&, const QVariantMap&) -> std::optional<QVariantMap> {
            return QVariantMap{{"data", kDocument}};
        },
        nullptr);
    service.start();
    koru.start();
    const int callers = int(state.range(0));
    constexpr int kCallsEach = 200;
    std::vector<double> latencies; // microseconds, every call of every iteration
    for (auto _ : state) {
        std::vector<std::vector<double>> perThread{std::size_t(callers)};
        std::vector<std::thread> threads;
        for (int i = 0; i < callers; ++i)
            threads.emplace_back([&service, &mine = perThread[std::size_t(i)]] {
                mine.reserve(kCallsEach);
                for (int n = 0; n < kCallsEach; ++n) {
                    const auto start = std::chrono::steady_clock::now();
                    benchmark::DoNotOptimize(
                        service.callAndWait("splDataDictionaryFromInstrument", {{"name", "M"}}));
                    mine.push_back(std::chrono::duration<double, std::micro>(
                                       std::chrono::steady_clock::now() - start)
                                       .count());
                }
            });
        for (std::thread& thread : threads)
            thread.join();
        for (const auto& mine : perThread)
            latencies.insert(latencies.end(), mine.begin(), mine.end());
    }
    state.SetItemsProcessed(state.iterations() * callers * kCallsEach);
    // The tail matters more than the mean: one starved caller is one frozen browser.
    std::sort(latencies.begin(), latencies.end());
    if (!latencies.empty()) {
        state.counters["p50_us"] = latencies[latencies.size() / 2];
        state.counters["p99_us"] = latencies[latencies.size() * 99 / 100];
        state.counters["max_us"] = latencies.back();
    }
}
BENCHMARK(BM_CallRoundTrip)->Arg(1)->Arg(64)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace

BENCHMARK_MAIN();
