#include "ReaderThreads.h"
#include "engine/KOAD.h"
#include "engine/KOSpectrumAnalyzer.h"
#include "platform/audio/DeviceRegistry.h"
#include "platform/fourcc/FourCC.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <complex>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <future>
#include <mutex>
#include <numbers>
#include <random>
#include <thread>
#include <vector>

using koru::platform::fourCC;

namespace {

constexpr double kTwoPi = 2.0 * std::numbers::pi;
constexpr double kHannCoherentGain = 0.8165; // the Hann window's mean

using Signal = std::function<float(std::int64_t frame)>;

Signal sineAtBin(double bin, std::uint32_t fftSize, double amplitude = 1.0) {
    return [=](std::int64_t n) {
        return float(amplitude * std::sin(kTwoPi * bin * double(n) / double(fftSize)));
    };
}

Signal silence() {
    return [](std::int64_t) { return 0.0f; };
}

// Noise that is a pure function of the frame index, so a test can recompute any block.
Signal noise() {
    return [](std::int64_t n) {
        std::uint64_t z = std::uint64_t(n) * 0x9E3779B97F4A7C15ull + 0x632BE59BD9B4E019ull;
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        z ^= z >> 31;
        return float(double(z >> 40) / double(1ull << 24) * 2.0 - 1.0);
    };
}

// Plays per-channel signals into an analyser the way the engine does: non-interleaved buffers,
// frame counter running on across calls.
class Feeder {
public:
    explicit Feeder(std::vector<Signal> channels) : mChannels(std::move(channels)) {}

    void feed(KOSpectrumAnalyzer& analyzer, std::uint32_t frames) {
        std::vector<std::vector<float>> data(mChannels.size(), std::vector<float>(frames));
        std::vector<AudioBuffer> buffers(mChannels.size());
        for (std::size_t c = 0; c < mChannels.size(); ++c) {
            for (std::uint32_t i = 0; i < frames; ++i)
                data[c][i] = mChannels[c](mFrame + i);
            buffers[c] = {1, frames * 4, data[c].data()};
        }
        const AudioBufferList list{std::uint32_t(buffers.size()), buffers.data()};
        analyzer.Process(&list, frames);
        mFrame += frames;
    }

    void feedCalls(KOSpectrumAnalyzer& analyzer, std::uint32_t frames, int calls) {
        for (int i = 0; i < calls; ++i)
            feed(analyzer, frames);
    }

    std::int64_t frame() const { return mFrame; }

private:
    std::vector<Signal> mChannels;
    std::int64_t mFrame = 0;
};

std::vector<float> collect(KOSpectrumAnalyzer& analyzer) {
    KOFloatBuffer destination(analyzer.FFTSize() / 2);
    analyzer.Collect(destination);
    return {destination.Data(), destination.Data() + destination.Length()};
}

std::uint32_t peakBin(const std::vector<float>& spectrum) {
    return std::uint32_t(std::max_element(spectrum.begin() + 1, spectrum.end()) - spectrum.begin());
}

// Analyses after `total` frames stored from a size change: the first block ends at 2N, then
// one more every N/8 frames.
std::uint32_t expectedAnalyses(std::int64_t total, std::uint32_t fftSize) {
    const std::int64_t n = fftSize;
    return total < 2 * n ? 0 : std::uint32_t((total - 2 * n) / (n / 8) + 1);
}

// A Hann spectrum of a steady tone at a bin centre: the peak at its level, half of it in each
// neighbour, nothing two bins away. A block spliced from audio with a gap in it (the phase jumps)
// spreads the tone and fails this.
bool isCleanTone(const std::vector<float>& spectrum, std::uint32_t bin, double level) {
    const double tolerance = 2e-3 * level;
    return peakBin(spectrum) == bin && std::abs(spectrum[bin] - level) < tolerance &&
           std::abs(spectrum[bin - 1] - level / 2) < tolerance &&
           std::abs(spectrum[bin + 1] - level / 2) < tolerance && spectrum[bin + 2] < tolerance &&
           spectrum[bin - 2] < tolerance;
}

bool isSilent(const std::vector<float>& spectrum) {
    return std::all_of(spectrum.begin(), spectrum.end(), [](float v) { return v == 0.0f; });
}

// An engine client that holds the pass at a gate until the test lets blocks through, so work on
// another thread can land while a block is on its way to the clients registered after it.
class GateClient : public ZOInputClient {
public:
    void Process(const AudioBufferList*, std::uint32_t) override {
        std::unique_lock lock(mMutex);
        ++mArrived;
        mChanged.notify_all();
        mChanged.wait(lock, [&] { return mOpen; });
    }
    void SetNumberOfChannels(std::uint32_t) override {}
    void ChannelsChanged(std::uint32_t, std::uint32_t) override {}

    void close() {
        const std::lock_guard lock(mMutex);
        mOpen = false;
    }
    void open() {
        const std::lock_guard lock(mMutex);
        mOpen = true;
        mChanged.notify_all();
    }
    // Until `count` blocks have reached the gate in all; false after the safety deadline.
    bool waitForArrivals(int count) {
        std::unique_lock lock(mMutex);
        return mChanged.wait_for(lock, std::chrono::seconds(30), [&] { return mArrived >= count; });
    }

private:
    std::mutex mMutex;
    std::condition_variable mChanged;
    bool mOpen = true;
    int mArrived = 0;
};

} // namespace

TEST(KOSpectrumAnalyzer, AcceptsOnlyPowersOfTwoFrom8192To65536) {
    struct Case {
        std::uint32_t size;
        bool accepted;
    };
    const Case cases[] = {{0, false},      {4096, false}, {12288, false}, {100000, false},
                          {131072, false}, {8192, true},  {16384, true},  {65536, true}};
    for (const Case& c : cases) {
        KOSpectrumAnalyzer analyzer(32768, fourCC("hann"));
        analyzer.SetFFTSize(c.size);
        EXPECT_EQ(analyzer.FFTSize(), c.accepted ? c.size : 32768u) << c.size;
        EXPECT_EQ(analyzer.HopFrames(), analyzer.FFTSize() / 8) << c.size;
    }
    EXPECT_THROW(KOSpectrumAnalyzer(4096, fourCC("hann")), std::invalid_argument);
    EXPECT_THROW(KOSpectrumAnalyzer(12288, fourCC("hann")), std::invalid_argument);
    EXPECT_EQ(KOSpectrumAnalyzer(8192, fourCC("hann")).HopFrames(), 1024u);
    EXPECT_EQ(KOSpectrumAnalyzer(65536, fourCC("hann")).HopFrames(), 8192u);
    EXPECT_TRUE(KOSpectrumAnalyzer(8192, fourCC("hann")).IsPauseable());
}

TEST(KOSpectrumAnalyzer, FirstAnalysisInSixteenthBufferThenOnePerBuffer) {
    KOSpectrumAnalyzer analyzer(8192, fourCC("hann"));
    Feeder feeder({noise()});
    for (int call = 1; call <= 15; ++call) {
        feeder.feed(analyzer, 1024);
        ASSERT_EQ(analyzer.Analyses(), 0u) << "call " << call;
        ASSERT_FALSE(analyzer.HasNewData());
    }
    feeder.feed(analyzer, 1024);
    EXPECT_EQ(analyzer.Analyses(), 1u);
    EXPECT_TRUE(analyzer.HasNewData());
    EXPECT_EQ(analyzer.ReadPosition(), 9216);
    feeder.feed(analyzer, 1024);
    EXPECT_EQ(analyzer.Analyses(), 2u);
    EXPECT_EQ(analyzer.ReadPosition(), 10240);
    feeder.feedCalls(analyzer, 1024, 30);
    EXPECT_EQ(analyzer.Analyses(), 32u);
}

// Buffers of sizes that do not divide the hop must not freeze the analyser: every whole block
// that a call completes is analysed.
TEST(KOSpectrumAnalyzer, OddBufferSizesKeepAnalysingEveryHop) {
    struct Case {
        std::uint32_t fftSize;
        std::uint32_t frames;
        int calls;
    };
    const Case cases[] = {{8192, 4096, 12},  {8192, 1000, 60},  {8192, 3000, 25},  {8192, 20000, 4},
                          {16384, 1024, 60}, {16384, 777, 100}, {65536, 1024, 160}};
    for (const Case& c : cases) {
        KOSpectrumAnalyzer analyzer(c.fftSize, fourCC("hann"));
        Feeder feeder({noise()});
        for (int call = 0; call < c.calls; ++call) {
            feeder.feed(analyzer, c.frames);
            ASSERT_EQ(analyzer.Analyses(), expectedAnalyses(feeder.frame(), c.fftSize))
                << "N " << c.fftSize << ", " << c.frames << " frames, call " << call;
        }
        EXPECT_GT(analyzer.Analyses(), 1u) << c.frames;
        EXPECT_EQ(analyzer.FramesReceived(), std::uint64_t(feeder.frame())) << c.frames;
        EXPECT_EQ(analyzer.FramesAnalysed(), std::uint64_t(feeder.frame())) << c.frames;
    }
}

// The spectrum must come from exactly the newest whole block, however the frames arrived:
// compare with a DFT of that block computed here.
TEST(KOSpectrumAnalyzer, SpectrumIsTheNewestWholeBlock) {
    constexpr std::uint32_t kN = 8192;
    const Signal signal = noise();
    for (const std::uint32_t frames : {1024u, 1000u, 4096u, 20000u}) {
        KOSpectrumAnalyzer analyzer(kN, fourCC("rect"));
        Feeder feeder({signal});
        feeder.feedCalls(analyzer, frames, 50000 / frames + 1);
        const std::uint32_t analyses = analyzer.Analyses();
        ASSERT_GT(analyses, 0u);
        const std::int64_t blockStart = kN + std::int64_t(analyses - 1) * (kN / 8);
        ASSERT_EQ(analyzer.ReadPosition(), blockStart + kN / 8);
        const std::vector<float> spectrum = collect(analyzer);
        for (const std::uint32_t bin : {1u, 37u, 1000u, kN / 2 - 1}) {
            std::complex<double> sum = 0.0;
            for (std::uint32_t n = 0; n < kN; ++n)
                sum += double(signal(blockStart + n)) *
                       std::polar(1.0, -kTwoPi * double(bin) * double(n) / kN);
            EXPECT_NEAR(spectrum[bin], 4.0 * std::abs(sum) / kN, 1e-4)
                << frames << " frames, bin " << bin;
        }
    }
}

// A sine at a bin centre reads 2·A times the window's coherent gain: 1.633 for a full-scale
// sine with Hann, 2.0 with the rectangular window. Halfway between two bins, Hann loses
// sinc(1/2)/(1 − 1/4) = 0.8488 (−1.42 dB) in both neighbours.
TEST(KOSpectrumAnalyzer, SineLevelsAtAndBetweenBins) {
    constexpr std::uint32_t kN = 8192;
    const double scallop = (2.0 / std::numbers::pi) / 0.75;
    struct Case {
        std::uint32_t window;
        double bin;
        double amplitude;
        std::uint32_t peak;
        double level;
    };
    const Case cases[] = {
        {fourCC("hann"), 186.0, 1.0, 186, 2.0 * kHannCoherentGain},
        {fourCC("hann"), 186.0, 0.1, 186, 0.2 * kHannCoherentGain},
        {fourCC("rect"), 186.0, 1.0, 186, 2.0},
        {fourCC("hann"), 2000.0, 1.0, 2000, 2.0 * kHannCoherentGain},
        {fourCC("hann"), 186.5, 1.0, 186, 2.0 * kHannCoherentGain * scallop},
    };
    for (const Case& c : cases) {
        KOSpectrumAnalyzer analyzer(kN, c.window);
        Feeder feeder({sineAtBin(c.bin, kN, c.amplitude)});
        feeder.feedCalls(analyzer, 1024, 20);
        const std::vector<float> spectrum = collect(analyzer);
        const bool betweenBins = c.bin != std::floor(c.bin);
        const std::uint32_t peak = peakBin(spectrum);
        EXPECT_TRUE(peak == c.peak || (betweenBins && peak == c.peak + 1))
            << c.window << " " << c.bin << ": peak " << peak;
        EXPECT_NEAR(spectrum[c.peak], c.level, 1e-3 * c.level) << c.window << " " << c.bin;
        if (c.window == fourCC("hann") && !betweenBins) {
            // Hann's neighbours carry half the peak; two bins away nothing.
            EXPECT_NEAR(spectrum[c.peak - 1], c.level / 2, 1e-3 * c.level);
            EXPECT_NEAR(spectrum[c.peak + 1], c.level / 2, 1e-3 * c.level);
            EXPECT_LT(spectrum[c.peak + 2], 1e-4 * c.level);
        }
        if (betweenBins) {
            EXPECT_NEAR(spectrum[c.peak + 1], c.level, 1e-3 * c.level);
        }
    }
}

// Squared magnitudes collect as |2X|²/(N/2): the magnitude reading squared, times N/2.
TEST(KOSpectrumAnalyzer, SquaredMagnitudesForPowerInstruments) {
    constexpr std::uint32_t kN = 8192;
    KOSpectrumAnalyzer analyzer(kN, fourCC("hann"));
    analyzer.SetSquaredMagnitudes(true);
    EXPECT_TRUE(analyzer.SquaredMagnitudes());
    Feeder feeder({sineAtBin(186.0, kN)});
    feeder.feedCalls(analyzer, 1024, 16);
    const std::vector<float> spectrum = collect(analyzer);
    const double magnitude = 2.0 * kHannCoherentGain;
    EXPECT_NEAR(spectrum[186], magnitude * magnitude * kN / 2, 1e-3 * magnitude * magnitude * kN);
    EXPECT_EQ(peakBin(spectrum), 186u);
}

TEST(KOSpectrumAnalyzer, CollectDoesNotConsumeTheSpectrum) {
    KOSpectrumAnalyzer analyzer(8192, fourCC("hann"));
    Feeder feeder({noise()});
    feeder.feedCalls(analyzer, 1024, 16);
    ASSERT_TRUE(analyzer.HasNewData());

    KOFloatBuffer first(4096);
    first.SetDecibel(true);
    analyzer.Collect(first);
    EXPECT_FALSE(first.IsDecibel());
    EXPECT_FALSE(analyzer.HasNewData());
    KOFloatBuffer second(4096);
    analyzer.Collect(second);
    EXPECT_TRUE(std::equal(first.Data(), first.Data() + 4096, second.Data()));
    EXPECT_GT(*std::max_element(first.Data(), first.Data() + 4096), 0.0f);

    // A destination still sized for a smaller transform takes what fits, nothing beyond.
    std::vector<float> guarded(2048 + 16, -7.0f);
    KOFloatBuffer small(AudioBuffer{1, 2048 * 4, guarded.data()}, false);
    analyzer.Collect(small);
    EXPECT_TRUE(std::equal(guarded.begin(), guarded.begin() + 2048, first.Data()));
    EXPECT_TRUE(
        std::all_of(guarded.begin() + 2048, guarded.end(), [](float v) { return v == -7.0f; }));
}

TEST(KOSpectrumAnalyzer, SizeChangeRestartsTimingAndClearsTheSpectrum) {
    KOSpectrumAnalyzer analyzer(8192, fourCC("hann"));
    Feeder feeder({sineAtBin(186.0, 8192)});
    feeder.feedCalls(analyzer, 1024, 20);
    ASSERT_EQ(analyzer.Analyses(), 5u);

    analyzer.SetFFTSize(16384);
    EXPECT_EQ(analyzer.Analyses(), 0u);
    EXPECT_EQ(analyzer.ReadPosition(), 16384);
    EXPECT_EQ(analyzer.HopFrames(), 2048u);
    const std::vector<float> cleared = collect(analyzer);
    ASSERT_EQ(cleared.size(), 8192u);
    EXPECT_TRUE(std::all_of(cleared.begin(), cleared.end(), [](float v) { return v == 0.0f; }));

    // The first N frames after the change are never analysed; then one spectrum per hop.
    feeder.feedCalls(analyzer, 1024, 31);
    EXPECT_EQ(analyzer.Analyses(), 0u);
    feeder.feed(analyzer, 1024);
    EXPECT_EQ(analyzer.Analyses(), 1u);
    feeder.feedCalls(analyzer, 1024, 4);
    EXPECT_EQ(analyzer.Analyses(), 3u);

    // Same tone, twice the resolution: twice the bin index, same level.
    const std::vector<float> spectrum = collect(analyzer);
    EXPECT_EQ(peakBin(spectrum), 372u);
    EXPECT_NEAR(spectrum[372], 2.0 * kHannCoherentGain, 2e-3);
}

TEST(KOSpectrumAnalyzer, WindowChangeKeepsSizeAndTiming) {
    KOSpectrumAnalyzer analyzer(8192, fourCC("hann"));
    EXPECT_EQ(analyzer.WindowType(), fourCC("hann"));
    Feeder feeder({sineAtBin(186.0, 8192)});
    feeder.feedCalls(analyzer, 1024, 17);
    ASSERT_EQ(analyzer.Analyses(), 2u);
    const std::vector<float> hann = collect(analyzer);

    // Until the next analysis the readers keep the Hann spectrum.
    analyzer.SetWindowType(fourCC("rect"));
    EXPECT_EQ(collect(analyzer), hann);
    EXPECT_EQ(analyzer.WindowType(), fourCC("rect"));
    EXPECT_EQ(analyzer.FFTSize(), 8192u);
    EXPECT_EQ(analyzer.Analyses(), 2u);
    EXPECT_EQ(analyzer.ReadPosition(), 10240);
    feeder.feed(analyzer, 1024);
    EXPECT_EQ(analyzer.Analyses(), 3u);
    EXPECT_NEAR(collect(analyzer)[186], 2.0, 2e-3);

    // The window survives a size change; an unknown code reads back as Hann.
    analyzer.SetFFTSize(16384);
    EXPECT_EQ(analyzer.WindowType(), fourCC("rect"));
    analyzer.SetWindowType(fourCC("what"));
    EXPECT_EQ(analyzer.WindowType(), fourCC("hann"));
    EXPECT_EQ(KOSpectrumAnalyzer(8192, fourCC("zzzz")).WindowType(), fourCC("hann"));
}

TEST(KOSpectrumAnalyzer, AnalysesTheSelectedChannelOnly) {
    KOSpectrumAnalyzer analyzer(8192, fourCC("hann"));
    analyzer.SetNumberOfChannels(3);
    Feeder feeder({silence(), sineAtBin(100.0, 8192), sineAtBin(300.0, 8192)});

    analyzer.SetChannel(1);
    feeder.feedCalls(analyzer, 1024, 16);
    EXPECT_EQ(peakBin(collect(analyzer)), 100u);

    // The ring holds one channel: after switching, the old channel's tail washes out within N.
    analyzer.SetChannel(2);
    feeder.feedCalls(analyzer, 1024, 8);
    EXPECT_EQ(peakBin(collect(analyzer)), 300u);

    analyzer.SetChannel(0);
    feeder.feedCalls(analyzer, 1024, 8);
    const std::vector<float> quiet = collect(analyzer);
    EXPECT_EQ(*std::max_element(quiet.begin(), quiet.end()), 0.0f);
}

// A stale selection beyond the buffer list (the device lost channels) is skipped, not read.
TEST(KOSpectrumAnalyzer, ChannelOutsideTheBufferListIsIgnored) {
    KOSpectrumAnalyzer analyzer(8192, fourCC("hann"));
    analyzer.SetNumberOfChannels(4);
    analyzer.SetChannel(3);
    Feeder twoChannels({noise(), noise()});
    twoChannels.feedCalls(analyzer, 1024, 40);
    EXPECT_EQ(analyzer.Analyses(), 0u);
    EXPECT_EQ(analyzer.ReadPosition(), 8192);

    analyzer.Process(nullptr, 1024);
    const AudioBufferList empty{0, nullptr};
    analyzer.Process(&empty, 1024);
    EXPECT_EQ(analyzer.Analyses(), 0u);
    // Handed over, never analysed: the counts tell the two apart.
    EXPECT_EQ(analyzer.FramesReceived(), 42u * 1024);
    EXPECT_EQ(analyzer.FramesAnalysed(), 0u);
}

// A reader holding the instrument mutex (a long collection) costs the audio thread nothing: the
// block is analysed and published while the mutex is held.
TEST(KOSpectrumAnalyzer, ReaderHoldingTheMutexCostsNoBlock) {
    KOSpectrumAnalyzer analyzer(8192, fourCC("hann"));
    Feeder feeder({noise()});
    feeder.feedCalls(analyzer, 1024, 15);
    std::unique_lock lock(analyzer.InstrumentMutex());
    auto call = std::async(std::launch::async, [&] { feeder.feed(analyzer, 1024); });
    const std::future_status status = call.wait_for(std::chrono::seconds(10));
    const bool announced = analyzer.HasNewData();
    lock.unlock();
    ASSERT_EQ(status, std::future_status::ready);
    EXPECT_TRUE(announced);
    EXPECT_EQ(analyzer.Analyses(), 1u);
    EXPECT_EQ(analyzer.FramesAnalysed(), 16u * 1024);
    const std::vector<float> spectrum = collect(analyzer);
    EXPECT_GT(*std::max_element(spectrum.begin(), spectrum.end()), 0.0f);
}

// Resizing and re-windowing from one thread while another processes and a third collects. Each
// step waits until the audio thread has gone on with it and the collector has read, so every
// state is taken over and used: nothing may crash, no frame may be lost, and a fresh size reads
// a clean tone afterwards.
TEST(KOSpectrumAnalyzer, ReconfigurationBesideProcessingAndCollecting) {
    KOSpectrumAnalyzer analyzer(8192, fourCC("hann"));
    std::atomic<bool> running{true};
    std::atomic<std::uint64_t> fed{0};
    std::atomic<std::uint64_t> collected{0};
    std::thread audio([&] {
        Feeder feeder({sineAtBin(186.0, 8192)});
        while (running.load()) {
            feeder.feed(analyzer, 1024);
            fed.store(std::uint64_t(feeder.frame()));
        }
    });
    std::thread collector([&] {
        KOFloatBuffer destination(65536 / 2);
        while (running.load()) {
            analyzer.Collect(destination);
            ++collected;
        }
    });
    // Generous: only a stuck thread ever reaches it.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    const auto waitFor = [&](const std::atomic<std::uint64_t>& count, std::uint64_t target) {
        while (count.load() < target && std::chrono::steady_clock::now() < deadline)
            std::this_thread::yield();
        return count.load() >= target;
    };
    const std::uint32_t sizes[] = {16384, 8192, 65536, 32768};
    const std::uint32_t windows[] = {fourCC("rect"), fourCC("hann"), fourCC("blkm")};
    bool progressed = true;
    for (int i = 0; i < 40 && progressed; ++i) {
        analyzer.SetFFTSize(sizes[i % 4]);
        progressed = waitFor(fed, fed.load() + 2 * 1024) && waitFor(collected, collected + 1);
        analyzer.SetWindowType(windows[i % 3]);
        progressed =
            progressed && waitFor(fed, fed.load() + 2 * 1024) && waitFor(collected, collected + 1);
    }
    running.store(false);
    collector.join();
    audio.join();
    ASSERT_TRUE(progressed);
    EXPECT_EQ(analyzer.FramesReceived(), fed.load());
    EXPECT_EQ(analyzer.FramesAnalysed(), fed.load());

    analyzer.SetWindowType(fourCC("hann"));
    analyzer.SetFFTSize(8192);
    Feeder feeder({sineAtBin(186.0, 8192)});
    feeder.feedCalls(analyzer, 1024, 18);
    EXPECT_EQ(analyzer.Analyses(), 3u);
    const std::vector<float> spectrum = collect(analyzer);
    EXPECT_EQ(peakBin(spectrum), 186u);
    EXPECT_NEAR(spectrum[186], 2.0 * kHannCoherentGain, 2e-3);
}

// Fed by the engine from a manually pumped virtual device.
class SpectrumAnalyzerOnEngine : public ::testing::Test {
protected:
    static constexpr double kRate = 48000.0;

    void SetUp() override {
        koru::platform::VirtualInputConfig config;
        config.name = QStringLiteral("Analyser Test");
        config.channels = 2;
        config.sampleRate = kRate;
        // Bin 186 of 8192 on the second channel, silence on the first.
        config.channelSignals = {koru::platform::VirtualSignal::silence(),
                                 koru::platform::VirtualSignal::sine(186.0 * kRate / 8192, 0.5f)};
        config.manual = true;
        mDevice = registry.addVirtualInput(config);
        engine = std::make_unique<KOAD>(mDevice, 1024);
        engine->Start();
        analyzer = std::make_unique<KOSpectrumAnalyzer>(8192, fourCC("hann"));
        engine->AddClient(analyzer.get());
        analyzer->SetChannel(1);
    }
    void TearDown() override {
        analyzer.reset();
        engine.reset();
        registry.removeDevice(mDevice);
    }
    void pump(int buffers) {
        for (int i = 0; i < buffers; ++i)
            ASSERT_TRUE(registry.virtualInput(mDevice)->pump(1024));
    }

    koru::platform::DeviceRegistry& registry = koru::platform::DeviceRegistry::shared();
    std::unique_ptr<KOAD> engine;
    std::unique_ptr<KOSpectrumAnalyzer> analyzer;
    std::uint32_t mDevice = 0;
};

TEST_F(SpectrumAnalyzerOnEngine, MeasuresTheDeviceAndStopsWhilePaused) {
    pump(16);
    ASSERT_EQ(analyzer->Analyses(), 1u);
    const std::vector<float> spectrum = collect(*analyzer);
    EXPECT_EQ(peakBin(spectrum), 186u);
    EXPECT_NEAR(spectrum[186], 2.0 * 0.5 * kHannCoherentGain, 1e-3);

    analyzer->SetPaused(true);
    pump(8);
    EXPECT_EQ(analyzer->Analyses(), 1u);
    EXPECT_FALSE(analyzer->HasNewData());

    analyzer->SetPaused(false);
    pump(1);
    EXPECT_EQ(analyzer->Analyses(), 2u);
    EXPECT_TRUE(analyzer->HasNewData());
    // A paused analyser is not handed the blocks it sleeps through.
    EXPECT_EQ(analyzer->FramesReceived(), 17u * 1024);
    EXPECT_EQ(analyzer->FramesAnalysed(), 17u * 1024);
}

// Readers collecting as fast as they can, at least once between any two blocks, never cost the
// audio thread a block: every delivered frame is analysed, every hop gives a spectrum, and each
// spectrum a reader sees is either the empty one or the clean tone (a dropped block would splice
// the tone and smear it).
TEST_F(SpectrumAnalyzerOnEngine, ReadersCollectingCostNoBlock) {
    constexpr int kBlocks = 400;
    const double level = 2.0 * 0.5 * kHannCoherentGain;
    koru::test::ReaderThreads readers(3, [&](int) {
        const std::vector<float> spectrum = collect(*analyzer);
        return isSilent(spectrum) || isCleanTone(spectrum, 186, level);
    });
    for (int block = 0; block < kBlocks; ++block) {
        pump(1);
        ASSERT_TRUE(readers.waitForEachThread()) << "block " << block;
    }
    readers.stop();
    EXPECT_EQ(readers.failures(), 0u) << "of " << readers.reads();
    EXPECT_EQ(analyzer->FramesReceived(), std::uint64_t(kBlocks) * 1024);
    EXPECT_EQ(analyzer->FramesAnalysed(), std::uint64_t(kBlocks) * 1024);
    EXPECT_EQ(analyzer->Analyses(), expectedAnalyses(std::int64_t(kBlocks) * 1024, 8192));
    EXPECT_TRUE(isCleanTone(collect(*analyzer), 186, level));
}

// A size change lands while a block is held on its way to the analyser: the rebuild does not wait
// for the audio thread, readers see the new size's empty spectrum at once, and that very block
// is the first of the new size. From there no block is lost, and no reader ever sees the old size
// again or a spectrum of mixed audio.
TEST_F(SpectrumAnalyzerOnEngine, SizeChangeDuringPlaybackLosesNoBlockAndNeverMixesSizes) {
    GateClient gate;
    engine->RemoveClient(analyzer.get());
    engine->AddClient(&gate);
    engine->AddClient(analyzer.get());
    const double level = 2.0 * 0.5 * kHannCoherentGain;
    std::atomic<bool> resized{false};
    std::vector<int> seenNewSize(2, 0);
    koru::test::ReaderThreads readers(2, [&](int thread) {
        const bool after = resized.load();
        KOFloatBuffer destination(16384 / 2);
        analyzer->Collect(destination);
        const std::vector<float> spectrum(destination.Data(),
                                          destination.Data() + destination.Length());
        if (isSilent(spectrum))
            return true;
        if (isCleanTone(spectrum, 372, level)) {
            seenNewSize[std::size_t(thread)] = 1;
            return after;
        }
        return seenNewSize[std::size_t(thread)] == 0 && isCleanTone(spectrum, 186, level);
    });
    pump(20);
    ASSERT_EQ(analyzer->Analyses(), 5u);

    gate.close();
    std::thread audio([&] { pump(1); });
    const bool held = gate.waitForArrivals(21);
    auto rebuild = std::async(std::launch::async, [&] { analyzer->SetFFTSize(16384); });
    const std::future_status status = rebuild.wait_for(std::chrono::seconds(30));
    resized.store(true);
    const std::vector<float> cleared = collect(*analyzer);
    gate.open();
    audio.join();
    ASSERT_TRUE(held);
    ASSERT_EQ(status, std::future_status::ready);
    EXPECT_EQ(cleared.size(), 8192u);
    EXPECT_TRUE(isSilent(cleared));

    constexpr int kAfter = 40;
    for (int block = 0; block < kAfter; ++block) {
        pump(1);
        ASSERT_TRUE(readers.waitForEachThread()) << "block " << block;
    }
    readers.stop();
    EXPECT_EQ(readers.failures(), 0u) << "of " << readers.reads();
    const std::int64_t newSizeFrames = std::int64_t(kAfter + 1) * 1024;
    EXPECT_EQ(analyzer->Analyses(), expectedAnalyses(newSizeFrames, 16384));
    EXPECT_EQ(analyzer->ReadPosition(), 16384 + std::int64_t(analyzer->Analyses()) * 2048);
    EXPECT_EQ(analyzer->FramesReceived(), std::uint64_t(20 + 1 + kAfter) * 1024);
    EXPECT_EQ(analyzer->FramesAnalysed(), std::uint64_t(20 + 1 + kAfter) * 1024);
    EXPECT_TRUE(isCleanTone(collect(*analyzer), 372, level));
    engine->RemoveClient(&gate);
}

TEST_F(SpectrumAnalyzerOnEngine, DestructionLeavesTheEngine) {
    const std::size_t clients = engine->NumberOfClients();
    pump(4);
    analyzer.reset();
    EXPECT_EQ(engine->NumberOfClients(), clients - 1);
    pump(4);
}
