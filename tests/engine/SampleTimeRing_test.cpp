#include "EngineTestSupport.h"

#include "engine/SampleTimeRing.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <random>
#include <vector>

using koru::SampleTimeRing;
using koru::test::BufferListStorage;

namespace {

// A distinct value for every (channel, time): shows which frame landed where.
float sampleAt(std::uint32_t channel, std::int64_t time) {
    return float(channel * 100000 + (time % 50000)) + 0.25f;
}

void fillFrom(BufferListStorage& buffers, std::int64_t time) {
    for (std::uint32_t c = 0; c < buffers.channelCount(); ++c) {
        std::vector<float>& samples = buffers.channel(c);
        for (std::size_t i = 0; i < samples.size(); ++i) {
            samples[i] = sampleAt(c, time + std::int64_t(i));
        }
    }
}

void storeFrom(SampleTimeRing& ring, std::int64_t time, std::uint32_t frames) {
    BufferListStorage buffers(ring.channels(), frames);
    fillFrom(buffers, time);
    ring.store(*buffers.list(), frames, time);
}

void expectBounds(const SampleTimeRing& ring, std::int64_t start, std::int64_t end) {
    const auto bounds = ring.timeBounds();
    ASSERT_TRUE(bounds.has_value());
    EXPECT_EQ(bounds->start, start);
    EXPECT_EQ(bounds->end, end);
}

} // namespace

TEST(SampleTimeRing, CapacityRoundsUpToAPowerOfTwo) {
    EXPECT_EQ(SampleTimeRing(2, 7639).capacity(), 8192u);
    EXPECT_EQ(SampleTimeRing(2, 65536).capacity(), 65536u);
    EXPECT_EQ(SampleTimeRing(1, 0).capacity(), 1u);
}

TEST(SampleTimeRing, UnknownUntilTheFirstStoreAndFetchFailsWithZeros) {
    SampleTimeRing ring(2, 64);
    EXPECT_FALSE(ring.timeBounds().has_value());
    BufferListStorage out(2, 16);
    out.channel(0).assign(16, 7.0f);
    EXPECT_FALSE(ring.fetch(*out.list(), 16, 0));
    EXPECT_EQ(out.channel(0), std::vector<float>(16, 0.0f));

    storeFrom(ring, 10, 16);
    ring.reset();
    EXPECT_FALSE(ring.timeBounds().has_value());
}

// How the stored range moves for each kind of store.
TEST(SampleTimeRing, BoundsFollowTheStores) {
    struct Step {
        std::int64_t time;
        std::uint32_t frames;
        std::int64_t start;
        std::int64_t end;
    };
    const std::vector<Step> steps = {
        {100, 16, 100, 116}, // first store
        {116, 32, 100, 148}, // continues
        {148, 40, 124, 188}, // capacity 64 exceeded: oldest frames drop
        {300, 8, 300, 308},  // gap: starts afresh
        {290, 8, 290, 298},  // back in time: starts afresh
        {298, 0, 290, 298},  // nothing stored
        {-50, 10, -50, -40}, // negative times work like any other
        {0, 200, 136, 200},  // longer than the capacity keeps the newest 64
    };
    SampleTimeRing ring(1, 64);
    for (const Step& step : steps) {
        SCOPED_TRACE(step.time);
        storeFrom(ring, step.time, step.frames);
        expectBounds(ring, step.start, step.end);
    }
}

TEST(SampleTimeRing, FetchZeroFillsWhatLiesOutsideTheStoredRange) {
    SampleTimeRing ring(2, 64);
    storeFrom(ring, 1000, 32); // [1000, 1032)
    BufferListStorage out(2, 48);
    for (std::uint32_t c = 0; c < 2; ++c) {
        out.channel(c).assign(48, -9.0f);
    }
    EXPECT_TRUE(ring.fetch(*out.list(), 48, 990)); // [990, 1038)
    for (std::uint32_t c = 0; c < 2; ++c) {
        for (std::int64_t i = 0; i < 48; ++i) {
            const std::int64_t t = 990 + i;
            const float expected = (t >= 1000 && t < 1032) ? sampleAt(c, t) : 0.0f;
            EXPECT_EQ(out.channel(c)[i], expected) << "channel " << c << " time " << t;
        }
    }
    EXPECT_TRUE(ring.fetch(*out.list(), 48, 5000));
    EXPECT_EQ(out.channel(1), std::vector<float>(48, 0.0f));
}

// Missing and short source buffers store silence; destinations are never written past their size.
TEST(SampleTimeRing, ChecksEveryBufferAgainstTheList) {
    SampleTimeRing ring(3, 64);
    BufferListStorage in(2, 16); // one buffer fewer than the ring has channels
    fillFrom(in, 0);
    in.entry(1).mDataByteSize = 8 * 4; // only half a buffer on channel 1
    ring.store(*in.list(), 16, 0);

    std::vector<float> channel(16, -1.0f);
    ASSERT_TRUE(ring.fetchChannel(1, channel.data(), 16, 0));
    for (std::uint32_t i = 0; i < 16; ++i) {
        EXPECT_EQ(channel[i], i < 8 ? sampleAt(1, i) : 0.0f) << i;
    }
    ASSERT_TRUE(ring.fetchChannel(2, channel.data(), 16, 0));
    EXPECT_EQ(channel, std::vector<float>(16, 0.0f));
    EXPECT_FALSE(ring.fetchChannel(3, channel.data(), 16, 0));

    BufferListStorage out(4, 20);
    out.channel(0).assign(20, 5.0f);
    out.entry(0).mDataByteSize = 10 * 4; // a destination smaller than the request
    out.channel(3).assign(20, 5.0f);     // beyond the ring's channels: untouched
    ring.fetch(*out.list(), 16, 0);
    EXPECT_EQ(out.channel(0)[9], sampleAt(0, 9));
    EXPECT_EQ(out.channel(0)[10], 5.0f);
    EXPECT_EQ(out.channel(3), std::vector<float>(20, 5.0f));
}

TEST(SampleTimeRing, PointerFormStoresAndFetchesLikeTheListForm) {
    SampleTimeRing ring(2, 16);
    std::vector<float> left(12), right(12);
    for (int i = 0; i < 12; ++i) {
        left[i] = sampleAt(0, 40 + i);
        right[i] = sampleAt(1, 40 + i);
    }
    const float* sources[] = {left.data(), right.data()};
    ring.store(sources, 12, 40);
    ring.store(sources, 12, 52); // wraps in a 16-frame ring
    std::vector<float> a(16), b(16);
    float* destinations[] = {a.data(), b.data()};
    ASSERT_TRUE(ring.fetch(destinations, 16, 48));
    for (int i = 0; i < 16; ++i) {
        const int source = (48 + i < 52) ? 48 + i - 40 : 48 + i - 52;
        EXPECT_EQ(a[i], left[source]);
        EXPECT_EQ(b[i], right[source]);
    }
}

// Random stores and fetches against a plain map of what should be there.
TEST(SampleTimeRing, AgreesWithAReferenceModelOverRandomTraffic) {
    constexpr std::uint32_t kCapacity = 256;
    SampleTimeRing ring(2, kCapacity);
    std::mt19937 random(7);
    std::map<std::int64_t, float> model; // channel 0 only; channel 1 follows the same rule
    std::int64_t start = 0;
    std::int64_t end = 0;
    bool known = false;
    std::int64_t next = 0;
    for (int round = 0; round < 3000; ++round) {
        const std::uint32_t frames = random() % 300 + 1;
        const bool jump = random() % 20 == 0;
        const std::int64_t time = jump ? next + std::int64_t(random() % 2000) - 1000 : next;
        BufferListStorage in(2, frames);
        fillFrom(in, time);
        ring.store(*in.list(), frames, time);
        if (!known || time != end) {
            model.clear();
            start = time;
        }
        for (std::uint32_t i = 0; i < frames; ++i) {
            model[time + i] = sampleAt(0, time + i);
        }
        end = time + frames;
        start = std::max(start, end - std::int64_t(kCapacity));
        known = true;
        next = end;
        expectBounds(ring, start, end);

        const std::uint32_t asked = random() % 400 + 1;
        const std::int64_t from = end - std::int64_t(random() % 600);
        std::vector<float> out(asked, -3.0f);
        ASSERT_TRUE(ring.fetchChannel(0, out.data(), asked, from));
        for (std::uint32_t i = 0; i < asked; ++i) {
            const std::int64_t t = from + i;
            const float expected = (t >= start && t < end) ? model.at(t) : 0.0f;
            ASSERT_EQ(out[i], expected) << "round " << round << " time " << t;
        }
    }
}
