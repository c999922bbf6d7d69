#include "engine/EngineTestSupport.h"
#include "engine/SignalSynthesis.h"
#include "netaudio/KOAuxInNetReceive.h"
#include "netaudio/KONetSendInstrument.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <functional>
#include <numbers>
#include <thread>
#include <vector>

using koru::test::BufferListStorage;
using koru::test::ManualOutput;
using namespace koru::netaudio;

namespace {

bool eventually(const std::function<bool()>& condition) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

// The send instrument and the receive input of one process, joined over loopback, with the
// engine's buffers on both sides driven by the test.
struct Loopback {
    Loopback(const std::string& name, std::uint32_t format, double senderRate)
        : send(name, "127.0.0.1") {
        send.SetNumberOfChannels(2);
        send.SetChannelA(0);
        send.SetChannelB(1);
        send.Unit().setSampleRate(senderRate);
        send.Unit().setFormatIndex(format);
        auto speakers = std::make_unique<ManualOutput>(48000.0, true);
        output = speakers.get();
        input = std::make_unique<KOAuxInNetReceive>(std::move(speakers));
        input->SetEngineSampleRate(48000.0);
        input->Start();
    }
    bool connect() {
        input->Receiver().connectTo("127.0.0.1", send.Unit().port());
        return eventually([&] {
            return input->Receiver().status() == NetStatus::Connected &&
                   send.Unit().status() == NetStatus::Connected;
        });
    }
    // The generator's two channels through the sender's Process, block by block.
    void sendSignal(koru::SignalSynthesis& generator, std::uint32_t blocks,
                    std::vector<float>& sent) {
        BufferListStorage engine(2, 1024);
        for (std::uint32_t b = 0; b < blocks; ++b) {
            float* ch[2] = {engine.channel(0).data(), engine.channel(1).data()};
            generator.render(ch, 1024);
            for (float& x : engine.channel(1))
                x = -0.5f * x; // tells the channels apart
            sent.insert(sent.end(), engine.channel(0).begin(), engine.channel(0).end());
            send.Process(engine.list(), 1024);
        }
    }
    // What the engine's two auxiliary channels carry, pulled through the speakers' tee.
    void receive(std::uint32_t blocks, std::vector<float>& left, std::vector<float>& right) {
        BufferListStorage engine(4, 1024);
        for (std::uint32_t b = 0; b < blocks; ++b) {
            output->pull();
            input->Render(engine.list(), 2, 1024);
            left.insert(left.end(), engine.channel(2).begin(), engine.channel(2).end());
            right.insert(right.end(), engine.channel(3).begin(), engine.channel(3).end());
        }
    }

    KONetSendInstrument send;
    ManualOutput* output = nullptr;
    std::unique_ptr<KOAuxInNetReceive> input;
};

// The lag at which `got` best matches `sent`, and the largest difference there.
std::pair<std::size_t, float> align(const std::vector<float>& sent, const std::vector<float>& got,
                                    std::size_t window) {
    std::pair<std::size_t, float> best{0, INFINITY};
    for (std::size_t lag = 0; lag + window < got.size(); ++lag) {
        float worst = 0.0f;
        for (std::size_t i = 0; i < window && worst < best.second; ++i)
            worst = std::max(worst, std::abs(got[lag + i] - sent[i]));
        if (worst < best.second)
            best = {lag, worst};
    }
    return best;
}

struct FormatCase {
    std::uint32_t format;
    float bound;
};

class InstrumentLoopback : public ::testing::TestWithParam<FormatCase> {};

// A sweep from the generator leaves the send instrument and reaches the receive input's engine
// channels, both of them, each sample within the codec's bound once the two are aligned.
TEST_P(InstrumentLoopback, TheGeneratorsSweepArrivesWithinTheCodecsBound) {
    const FormatCase c = GetParam();
    Loopback loop("KORU Net Send Instrument " + std::to_string(c.format), c.format, 48000.0);
    ASSERT_TRUE(loop.connect()) << loop.input->Receiver().lastError();

    koru::SignalSynthesis generator;
    generator.setSampleRate(48000.0);
    generator.setSignalType(koru::SignalSynthesis::Sweep);
    generator.setSweepBounds(20.0f, 2000.0f);
    generator.setAmplitude(0.5f);
    std::vector<float> sent;
    loop.sendSignal(generator, 40, sent);
    const std::uint64_t first = loop.input->Receiver().firstSampleTime();
    ASSERT_TRUE(
        eventually([&] { return loop.input->Receiver().buffered() >= sent.size() - first; }));

    std::vector<float> left, right;
    loop.receive(36, left, right);
    // Past the pre-buffer and the codec's first block, matched over a stretch of 8192 frames.
    const std::vector<float> reference(sent.begin() + std::ptrdiff_t(first) + 1024, sent.end());
    const auto [lag, worst] = align(reference, left, 8192);
    EXPECT_LE(worst, c.bound) << "at lag " << lag;
    float worstRight = 0.0f;
    for (std::size_t i = 0; i < 8192; ++i)
        worstRight = std::max(worstRight, std::abs(right[lag + i] + 0.5f * reference[i]));
    EXPECT_LE(worstRight, c.bound);
    EXPECT_EQ(loop.input->Receiver().gapFrames(), 0u);
    EXPECT_EQ(loop.send.Unit().overflowFrames(), 0u);
}

INSTANTIATE_TEST_SUITE_P(Formats, InstrumentLoopback,
                         ::testing::Values(FormatCase{0, 0.0f}, FormatCase{1, 1.0e-6f},
                                           FormatCase{2, 4.0e-5f}, FormatCase{5, 0.02f},
                                           FormatCase{6, 0.05f}),
                         [](const ::testing::TestParamInfo<FormatCase>& info) {
                             return "Format" + std::to_string(info.param.format);
                         });

// A sender at another rate than the engine's is converted on the way in: a 1 kHz tone still
// reads 1 kHz at its level on the engine's channels.
TEST(InstrumentLoopbackRate, AToneFromAnotherRateKeepsItsPitchAndLevel) {
    for (const double senderRate : {44100.0, 96000.0}) {
        SCOPED_TRACE(senderRate);
        constexpr std::size_t kFit = 8192;
        Loopback loop("KORU Net Send Rate " + std::to_string(int(senderRate)), 0, senderRate);
        ASSERT_TRUE(loop.connect()) << loop.input->Receiver().lastError();
        ASSERT_EQ(loop.input->Receiver().streamFormat().rate, senderRate);

        koru::SignalSynthesis generator;
        generator.setSampleRate(senderRate);
        generator.setSignalType(koru::SignalSynthesis::Sine);
        generator.setFrequency(1000.0f);
        generator.setAmplitude(0.5f);
        std::vector<float> sent;
        loop.sendSignal(generator, 48, sent); // within the sender's FIFO, so nothing overflows
        const double expected = double(sent.size()) * 48000.0 / senderRate;
        ASSERT_TRUE(eventually([&] {
            return double(loop.input->Receiver().buffered()) >= expected - 2048.0;
        })) << loop.input->Receiver().buffered()
            << " of about " << expected;

        std::vector<float> left, right;
        loop.receive(24, left, right);
        // A stretch well inside the tone: past its first frames, before the end.
        std::size_t start = 0;
        while (start < left.size() && left[start] == 0.0f)
            ++start;
        start += 2048;
        ASSERT_LT(start + kFit, left.size());
        const double w = 2.0 * std::numbers::pi * 1000.0 / 48000.0;
        double ss = 0, cc = 0, sc = 0, ys = 0, yc = 0;
        for (std::size_t n = start; n < start + kFit; ++n) {
            const double s = std::sin(w * double(n)), co = std::cos(w * double(n));
            ss += s * s, cc += co * co, sc += s * co, ys += left[n] * s, yc += left[n] * co;
        }
        const double det = ss * cc - sc * sc;
        const double a = (ys * cc - yc * sc) / det, b = (yc * ss - ys * sc) / det;
        double err = 0;
        for (std::size_t n = start; n < start + kFit; ++n) {
            const double e = left[n] - (a * std::sin(w * double(n)) + b * std::cos(w * double(n)));
            err += e * e;
        }
        EXPECT_NEAR(std::hypot(a, b), 0.5, 0.01) << "level";
        EXPECT_LT(std::sqrt(err / double(kFit)), 5.0e-3) << "pitch";
        EXPECT_NEAR(right[start + 100], -0.5f * left[start + 100], 1.0e-6f);
    }
}

} // namespace
