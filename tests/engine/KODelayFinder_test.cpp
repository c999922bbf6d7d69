#include "AllocationCounter.h"
#include "EngineTestSupport.h"
#include "engine/KODelayFinder.h"
#include "engine/KOFloatBuffer.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <functional>
#include <limits>
#include <random>
#include <vector>

using koru::test::BufferListStorage;

namespace {

constexpr std::uint32_t kBuffer = 1024;
constexpr std::uint32_t kN = KODelayFinder::kDefaultFFTSize;

using Signal = std::function<float(std::int64_t frame)>;

// Uniform white noise in [-1, 1), the same for every call with the same seed.
std::vector<float> whiteNoise(std::size_t count, std::uint32_t seed) {
    std::mt19937 generator(seed);
    std::uniform_real_distribution<float> uniform(-1.0f, 1.0f);
    std::vector<float> noise(count);
    for (float& value : noise)
        value = uniform(generator);
    return noise;
}

// Feeds `buffers` buffers of 1024 frames; channel c carries channels[c] (silence when empty).
void feed(KODelayFinder& finder, const std::vector<Signal>& channels, std::int64_t buffers,
          std::int64_t firstFrame = 0) {
    BufferListStorage storage(std::uint32_t(channels.size()), kBuffer);
    for (std::int64_t b = 0; b < buffers; ++b) {
        for (std::uint32_t c = 0; c < channels.size(); ++c) {
            for (std::uint32_t i = 0; i < kBuffer; ++i) {
                const std::int64_t frame = firstFrame + b * kBuffer + i;
                storage.channel(c)[i] = channels[c] ? channels[c](frame) : 0.0f;
            }
        }
        finder.Process(storage.list(), kBuffer);
    }
}

struct DelayCase {
    std::int64_t delay; // negative: the response leads the source
    float gain;
};

class DelayFinderFindsDelay : public testing::TestWithParam<DelayCase> {};

// The response is the source noise delayed by d and scaled; silence before the noise starts, so
// the recording has to begin at the first buffer with signal.
TEST_P(DelayFinderFindsDelay, ToTheSample) {
    const DelayCase c = GetParam();
    const std::int64_t start = 3 * kBuffer;
    const std::vector<float> noise = whiteNoise(kN + 2 * 40000 + 8 * kBuffer, 7);
    const std::int64_t origin = 40000;
    const Signal source = [&](std::int64_t frame) {
        return frame < start ? 0.0f : noise[std::size_t(origin + frame)];
    };
    const Signal response = [&](std::int64_t frame) {
        return frame < start ? 0.0f : c.gain * noise[std::size_t(origin + frame - c.delay)];
    };
    KODelayFinder finder;
    finder.SetNumberOfChannels(3);
    // Source on the last channel, response on the first: the two must not be swapped.
    finder.SetSourceChannel(2);
    finder.SetResponseChannel(0);
    feed(finder, {response, {}, source}, 3 + kN / kBuffer + 2);
    ASSERT_EQ(finder.GetState(), KODelayFinder::Complete);
    EXPECT_EQ(finder.FramesAnalysed(), kN);

    const std::uint32_t found = finder.ComputeDelay();
    const std::uint32_t expected = std::uint32_t(c.delay >= 0 ? c.delay : kN + c.delay);
    EXPECT_EQ(found, expected);
    EXPECT_EQ(finder.GetState(), KODelayFinder::Done);
    const KOFloatBuffer* ir = finder.ImpulseResponse();
    ASSERT_NE(ir, nullptr);
    // The overlap of the two frames carries the peak: g times the samples they share.
    const float overlap = float(kN - std::uint32_t(std::llabs(c.delay)));
    EXPECT_NEAR(ir->Data()[found], c.gain * overlap, 0.1f * std::fabs(c.gain) * overlap);
}

INSTANTIATE_TEST_SUITE_P(Delays, DelayFinderFindsDelay,
                         testing::Values(DelayCase{0, 1.0f}, DelayCase{1, 1.0f},
                                         DelayCase{37, 0.5f}, DelayCase{480, -1.0f},
                                         DelayCase{4801, 2.0f}, DelayCase{20000, 1.0f},
                                         DelayCase{-1, 1.0f}, DelayCase{-250, 0.7f},
                                         DelayCase{-9000, -1.0f}));

// A circular shift makes H exactly g·e^(-iωd) in every bin, DC and Nyquist included: the unscaled
// inverse is then g·N at d and nothing elsewhere.
TEST(DelayFinder, ImpulseResponseOfACircularShiftIsAScaledImpulse) {
    constexpr std::uint32_t n = 4096;
    constexpr std::int64_t d = 123;
    constexpr float g = 0.25f;
    const std::vector<float> noise = whiteNoise(n, 11);
    KODelayFinder finder(n);
    feed(finder,
         {[&](std::int64_t f) { return noise[std::size_t(f % n)]; },
          [&](std::int64_t f) { return g * noise[std::size_t((f - d + n) % n)]; }},
         n / kBuffer);
    ASSERT_EQ(finder.ComputeDelay(), std::uint32_t(d));
    const float* ir = finder.ImpulseResponse()->Data();
    for (std::uint32_t i = 0; i < n; ++i) {
        SCOPED_TRACE(i);
        EXPECT_NEAR(ir[i], i == d ? g * float(n) : 0.0f, 2e-3f * float(n));
    }
}

struct TriggerCase {
    const char* what;
    float source;
    float response;
    bool starts;
};

class DelayFinderTrigger : public testing::TestWithParam<TriggerCase> {};

// Each channel's largest value (not magnitude) in one buffer must exceed the level.
TEST_P(DelayFinderTrigger, StartsOnlyWhenBothChannelsExceedTheLevel) {
    const TriggerCase c = GetParam();
    KODelayFinder finder(8192);
    const auto peakAt = [](float peak) {
        return [peak](std::int64_t frame) { return frame == 500 ? peak : 0.0f; };
    };
    feed(finder, {peakAt(c.source), peakAt(c.response)}, 1);
    EXPECT_EQ(finder.GetState(), c.starts ? KODelayFinder::Recording : KODelayFinder::Waiting);
    EXPECT_EQ(finder.FramesAnalysed(), c.starts ? kBuffer : 0u) << "the triggering buffer is used";
}

INSTANTIATE_TEST_SUITE_P(
    Levels, DelayFinderTrigger,
    testing::Values(TriggerCase{"both above", 0.0501f, 0.0501f, true},
                    TriggerCase{"source exactly at the level", 0.05f, 1.0f, false},
                    TriggerCase{"response exactly at the level", 1.0f, 0.05f, false},
                    TriggerCase{"only the source", 1.0f, 0.0f, false},
                    TriggerCase{"only the response", 0.0f, 1.0f, false},
                    TriggerCase{"negative peaks", -1.0f, -1.0f, false}),
    [](const testing::TestParamInfo<TriggerCase>& info) {
        std::string name = info.param.what;
        for (char& ch : name)
            ch = std::isalnum(static_cast<unsigned char>(ch)) ? ch : '_';
        return name;
    });

TEST(DelayFinder, RecordsExactlyOneFramePairThenIgnoresBuffers) {
    constexpr std::uint32_t n = 8192;
    KODelayFinder finder(n);
    const std::vector<float> noise = whiteNoise(64 * kBuffer, 3);
    const Signal signal = [&](std::int64_t f) { return noise[std::size_t(f)]; };
    feed(finder, {signal, signal}, n / kBuffer - 1);
    EXPECT_EQ(finder.GetState(), KODelayFinder::Recording);
    EXPECT_EQ(finder.ComputeDelay(), 0u) << "nothing to compute while recording";
    EXPECT_EQ(finder.ImpulseResponse(), nullptr);
    EXPECT_EQ(finder.GetState(), KODelayFinder::Recording);
    feed(finder, {signal, signal}, 5, (n / kBuffer - 1) * kBuffer);
    EXPECT_EQ(finder.GetState(), KODelayFinder::Complete);
    EXPECT_EQ(finder.FramesAnalysed(), n);
    EXPECT_EQ(finder.FramesReceived(), n + 4 * kBuffer);

    const KOFloatBuffer* first = finder.ImpulseResponse();
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(finder.GetState(), KODelayFinder::Done);
    EXPECT_EQ(finder.ImpulseResponse(), first) << "computed once";
    EXPECT_EQ(finder.ComputeDelay(), 0u) << "no second computation once done";
    EXPECT_EQ(finder.ImpulseResponse(), first);
}

// Input that leaves bins without a ratio, or no numbers at all, still gives a finite response.
TEST(DelayFinder, DegenerateInputGivesAFiniteImpulseResponse) {
    constexpr std::uint32_t n = 8192;
    const std::vector<float> noise = whiteNoise(n, 5);
    const Signal noiseSignal = [&](std::int64_t f) { return noise[std::size_t(f % n)]; };
    const Signal firstBufferOnly = [&](std::int64_t f) { return f < kBuffer ? 0.5f : 0.0f; };
    const Signal binCentredSine = [](std::int64_t f) {
        return float(std::sin(2.0 * M_PI * 64.0 * double(f) / double(n)));
    };
    const Signal withNaN = [&](std::int64_t f) {
        return f == 3000 ? std::numeric_limits<float>::quiet_NaN() : noiseSignal(f);
    };
    const Signal withInfinity = [&](std::int64_t f) {
        return f == 5000 ? std::numeric_limits<float>::infinity() : noiseSignal(f);
    };
    const struct {
        const char* what;
        Signal source;
        Signal response;
    } cases[] = {
        {"response silent after the trigger", noiseSignal, firstBufferOnly},
        {"source silent after the trigger", firstBufferOnly, noiseSignal},
        {"source energy in one bin only", binCentredSine, noiseSignal},
        {"a missing number in the source", withNaN, noiseSignal},
        {"an infinite response sample", noiseSignal, withInfinity},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        KODelayFinder finder(n);
        feed(finder, {c.source, c.response}, n / kBuffer);
        ASSERT_EQ(finder.GetState(), KODelayFinder::Complete);
        const std::uint32_t delay = finder.ComputeDelay();
        EXPECT_LT(delay, n);
        const KOFloatBuffer* ir = finder.ImpulseResponse();
        ASSERT_NE(ir, nullptr);
        std::uint32_t notFinite = 0;
        for (std::uint32_t i = 0; i < n; ++i)
            notFinite += std::isfinite(ir->Data()[i]) ? 0u : 1u;
        EXPECT_EQ(notFinite, 0u);
    }
}

TEST(DelayFinder, ChannelsMissingFromTheBufferListNeverStartIt) {
    KODelayFinder finder(8192);
    finder.SetSourceChannel(5); // the channel count is not known yet, so it is kept
    const Signal loud = [](std::int64_t) { return 1.0f; };
    feed(finder, {loud, loud}, 4);
    EXPECT_EQ(finder.GetState(), KODelayFinder::Waiting);
    EXPECT_EQ(finder.FramesAnalysed(), 0u);
}

// A buffer list that loses a channel part-way through the recording leaves a hole in the frame:
// the recording starts again with the next signal instead of measuring the damaged frame.
TEST(DelayFinder, AChannelLostWhileRecordingStartsOver) {
    constexpr std::uint32_t n = 8192;
    KODelayFinder finder(n);
    const Signal loud = [](std::int64_t f) { return (f % 7) * 0.1f; };
    feed(finder, {loud, loud}, 2);
    ASSERT_EQ(finder.GetState(), KODelayFinder::Recording);
    feed(finder, {loud}, 1);
    EXPECT_EQ(finder.GetState(), KODelayFinder::Waiting);
    feed(finder, {loud, loud}, n / kBuffer);
    EXPECT_EQ(finder.GetState(), KODelayFinder::Complete);
}

TEST(DelayFinder, ProcessNeverAllocates) {
    KODelayFinder finder(8192);
    BufferListStorage storage(2, kBuffer);
    storage.fill(0, 0.5f);
    storage.fill(1, 0.5f);
    koru::test::AllocationCounter counter;
    for (int b = 0; b < 12; ++b)
        finder.Process(storage.list(), kBuffer);
    EXPECT_EQ(counter.count(), 0u);
    EXPECT_EQ(finder.GetState(), KODelayFinder::Complete);
}

TEST(DelayFinder, RefusesSizesThatAreNoPowerOfTwo) {
    for (const std::uint32_t size : {0u, 1u, 3000u, 65535u}) {
        SCOPED_TRACE(size);
        EXPECT_THROW(KODelayFinder{size}, std::invalid_argument);
    }
}

} // namespace
