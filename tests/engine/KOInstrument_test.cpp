#include "engine/KOOneChannelInstrument.h"
#include "engine/KOTwoChannelInstrument.h"
#include "zotools/CAException.h"

#include <gtest/gtest.h>

#include <stdexcept>

namespace {

class OneChannel : public KOOneChannelInstrument {
public:
    void Process(const AudioBufferList*, std::uint32_t) override {}
};

class TwoChannel : public KOTwoChannelInstrument {
public:
    void Process(const AudioBufferList*, std::uint32_t) override {}
};

class Pauseable : public OneChannel {
public:
    bool IsPauseable() const override { return true; }
};

} // namespace

TEST(KOInstrument, ClientWithoutHostAnswersDefaults) {
    OneChannel client;
    EXPECT_DOUBLE_EQ(client.HostSampleRate(), 44100.0);
    EXPECT_EQ(client.HostBufferFrames(), 1024u);
    EXPECT_EQ(client.Host(), nullptr);
    EXPECT_FALSE(client.HasNewData());
}

TEST(KOInstrument, RemapChannelFollowsInsertedAndRemovedChannels) {
    struct Case {
        std::uint32_t channels, ch, position;
        std::int32_t delta;
        std::uint32_t expected;
    };
    const Case cases[] = {
        {6, 5, 2, -2, 3}, // after the removal: moves down
        {6, 1, 2, -2, 1}, // before the change: stays
        {6, 3, 2, -6, 0}, // removed with more than it: never below 0
        {8, 4, 4, 2, 6},  // at the insertion point: moves up
        {4, 3, 0, 5, 3},  // clamped to the last channel
        {0, 9, 0, 3, 12}, // count unknown: no clamp
        {0, 9, 10, -3, 9},
    };
    for (const Case& c : cases) {
        OneChannel client;
        client.SetNumberOfChannels(c.channels);
        EXPECT_EQ(client.RemapChannel(c.ch, c.position, std::uint32_t(c.delta)), c.expected)
            << "channel " << c.ch << " position " << c.position << " delta " << c.delta;
    }
}

TEST(KOInstrument, SelectedChannelIsClampedOnlyWhileTheCountIsKnown) {
    OneChannel one;
    one.SetChannel(7);
    EXPECT_EQ(one.Channel(), 7u);
    one.SetNumberOfChannels(4);
    EXPECT_EQ(one.Channel(), 3u);
    one.SetNumberOfChannels(0);
    EXPECT_EQ(one.Channel(), 3u);
    one.SetChannel(7);
    EXPECT_EQ(one.Channel(), 7u);

    TwoChannel two;
    two.SetChannelA(5);
    two.SetChannelB(1);
    two.SetNumberOfChannels(3);
    EXPECT_EQ(two.ChannelA(), 2u);
    EXPECT_EQ(two.ChannelB(), 1u);
    two.SetNumberOfChannels(0);
    EXPECT_EQ(two.ChannelA(), 2u);
}

TEST(KOInstrument, ChannelsChangedMovesBothChannelsOfATwoChannelInstrument) {
    TwoChannel two;
    two.SetNumberOfChannels(8);
    two.SetChannelA(1);
    two.SetChannelB(6);
    two.SetNumberOfChannels(6);
    two.ChannelsChanged(2, std::uint32_t(-2)); // two hardware channels went away
    EXPECT_EQ(two.ChannelA(), 1u);
    EXPECT_EQ(two.ChannelB(), 3u);
}

TEST(KOInstrument, PausingANonPauseableClientThrowsAndKeepsItRunning) {
    OneChannel fixed;
    try {
        fixed.SetPaused(true);
        FAIL() << "no exception";
    } catch (const std::logic_error& e) {
        EXPECT_STREQ(e.what(), "Called setPaused on non-pauseable client.");
    }
    EXPECT_FALSE(fixed.IsPaused());

    Pauseable pauseable;
    pauseable.SetPaused(true);
    EXPECT_TRUE(pauseable.IsPaused());
}

TEST(KOInstrument, CheckStatusThrowsTheStatus) {
    OneChannel client;
    EXPECT_NO_THROW(client.CheckStatus(0));
    try {
        client.CheckStatus(-10879);
        FAIL() << "no exception";
    } catch (const CAException& e) {
        EXPECT_EQ(e.GetError(), -10879);
    }
}
