#include "EngineTestSupport.h"
#include "engine/KOAuxSummingChannel.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <vector>

using koru::test::BufferListStorage;

namespace {

constexpr std::uint32_t kFrames = 64;

std::vector<float> sine(float amplitude) {
    std::vector<float> values(kFrames);
    for (std::uint32_t i = 0; i < kFrames; ++i) {
        values[i] = amplitude * float(std::sin(2.0 * std::numbers::pi * i / 16.0));
    }
    return values;
}

std::vector<float> scaled(const std::vector<float>& values, float factor) {
    std::vector<float> out(values);
    for (float& v : out) {
        v *= factor;
    }
    return out;
}

} // namespace

// Channels 0 and 1 are the sources, 2 and 3 the summing pair.
TEST(KOAuxSummingChannel, RendersHalfSumAndHalfDifference) {
    struct Case {
        const char* name;
        std::vector<float> a;
        std::vector<float> b;
        std::uint32_t channelA;
        std::uint32_t channelB;
        std::vector<float> sum;
        std::vector<float> difference;
    };
    const std::vector<float> wave = sine(0.8f);
    const std::vector<float> silence(kFrames, 0.0f);
    const std::vector<Case> cases = {
        {"same source", wave, silence, 0, 0, wave, silence},
        {"inverse on B", wave, scaled(wave, -1.0f), 0, 1, silence, wave},
        {"constants", std::vector<float>(kFrames, 0.5f), std::vector<float>(kFrames, -0.25f), 0, 1,
         std::vector<float>(kFrames, 0.125f), std::vector<float>(kFrames, 0.375f)},
        {"B before A", std::vector<float>(kFrames, 0.5f), std::vector<float>(kFrames, -0.25f), 1, 0,
         std::vector<float>(kFrames, 0.125f), std::vector<float>(kFrames, -0.375f)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        BufferListStorage buffers(4, kFrames);
        buffers.channel(0) = c.a;
        buffers.channel(1) = c.b;
        KOAuxSummingChannel summing;
        summing.setChannelCount(2);
        summing.setChannelA(c.channelA);
        summing.setChannelB(c.channelB);
        summing.Render(buffers.list(), 2, kFrames);
        for (std::uint32_t i = 0; i < kFrames; ++i) {
            EXPECT_FLOAT_EQ(buffers.channel(2)[i], c.sum[i]) << i;
            EXPECT_NEAR(buffers.channel(3)[i], c.difference[i], 1e-7f) << i;
        }
    }
}

TEST(KOAuxSummingChannel, ClampsSourcesToTheChannelCount) {
    KOAuxSummingChannel summing;
    EXPECT_EQ(summing.channelA(), 0u);
    EXPECT_EQ(summing.channelB(), 1u);
    summing.setChannelA(40); // count unknown: kept as given
    EXPECT_EQ(summing.channelA(), 40u);
    summing.setChannelCount(6); // clamps what is already there
    EXPECT_EQ(summing.channelA(), 5u);
    summing.setChannelB(9);
    EXPECT_EQ(summing.channelB(), 5u);
    summing.setChannelB(2);
    summing.setChannelCount(0); // no wrap-around to 0xFFFFFFFF
    EXPECT_EQ(summing.channelA(), 5u);
    EXPECT_EQ(summing.channelB(), 2u);
    summing.setChannelA(300);
    EXPECT_EQ(summing.channelA(), 300u);
}

TEST(KOAuxSummingChannel, NeverReadsOrWritesPastTheBufferList) {
    // The pair's second buffer is missing: nothing is written.
    BufferListStorage shortList(3, kFrames);
    shortList.fill(2, 7.0f);
    KOAuxSummingChannel summing;
    summing.Render(shortList.list(), 2, kFrames);
    EXPECT_EQ(shortList.channel(2), std::vector<float>(kFrames, 7.0f));
    summing.Render(shortList.list(), 0xFFFFFFFFu, kFrames);

    // Sources restored past the list before the engine told the count: silence.
    BufferListStorage buffers(4, kFrames);
    buffers.fill(0, 0.5f);
    buffers.fill(2, 7.0f);
    buffers.fill(3, 7.0f);
    summing.setChannelA(12);
    summing.Render(buffers.list(), 2, kFrames);
    EXPECT_EQ(buffers.channel(2), std::vector<float>(kFrames, 0.0f));
    EXPECT_EQ(buffers.channel(3), std::vector<float>(kFrames, 0.0f));
}

TEST(KOAuxSummingChannel, NamesTheOperatorBetweenItsSources) {
    KOAuxSummingChannel summing;
    EXPECT_EQ(summing.NumberOfChannels(), 2u);
    EXPECT_EQ(summing.Name(0), " + ");
    EXPECT_EQ(summing.Name(1), " - ");
    EXPECT_EQ(summing.Name(2), " ");
}
