#include "netaudio/KONetSendInstrument.h"
#include "netaudio/NetReceiveUnit.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>
#include <vector>

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

// Four engine channels, each a constant equal to its index + 1, in one buffer list.
struct EngineBuffers {
    explicit EngineBuffers(std::uint32_t frames, std::uint32_t channels = 4)
        : data(channels, std::vector<float>(frames)), entries(channels) {
        for (std::uint32_t c = 0; c < channels; ++c) {
            std::fill(data[c].begin(), data[c].end(), float(c + 1) / 8.0f);
            entries[c].mNumberChannels = 1;
            entries[c].mDataByteSize = frames * 4;
            entries[c].mData = data[c].data();
        }
        list.mNumberBuffers = channels;
        list.mBuffers = entries.data();
    }
    std::vector<std::vector<float>> data;
    std::vector<AudioBuffer> entries;
    AudioBufferList list;
};

TEST(KONetSendInstrument, ChannelSelectionClampsAndSurvivesAnEmptyDevice) {
    KONetSendInstrument send("KORU Net Send Channels", "127.0.0.1");
    EXPECT_EQ(send.ChannelA(), 0u);
    EXPECT_EQ(send.ChannelB(), 1u);
    send.SetNumberOfChannels(2);
    send.SetChannelA(40); // a restored selection past the device's channels
    EXPECT_EQ(send.ChannelA(), 1u);
    send.SetNumberOfChannels(0); // no device: the selection must not wrap to 0xFFFFFFFF
    EXPECT_LE(send.ChannelA(), 1u);
    // A channel inserted before the selection moves it along.
    send.SetNumberOfChannels(4);
    send.SetChannelA(1);
    send.SetChannelB(2);
    send.ChannelsChanged(0, 1);
    EXPECT_EQ(send.ChannelA(), 2u);
    EXPECT_EQ(send.ChannelB(), 3u);
}

TEST(KONetSendInstrument, SendsTheSelectedChannelsInPiecesOfAnyBufferSize) {
    KONetSendInstrument send("KORU Net Send Process", "127.0.0.1");
    send.SetNumberOfChannels(4);
    send.SetChannelA(2);
    send.SetChannelB(3);
    ASSERT_TRUE(eventually([&] { return send.Unit().status() == NetStatus::Listening; }));
    NetReceiveUnit receiver;
    receiver.connectTo("127.0.0.1", send.Unit().port());
    ASSERT_TRUE(eventually([&] { return receiver.status() == NetStatus::Connected; }));

    EngineBuffers engine(3000); // larger than the unit's pieces
    for (int i = 0; i < 4; ++i)
        send.Process(&engine.list, 3000);
    EXPECT_EQ(send.Unit().sampleTime(), 12000u);
    const std::uint64_t expected = 12000 - receiver.firstSampleTime();
    ASSERT_TRUE(eventually([&] { return receiver.buffered() >= expected; }));
    std::vector<float> l(expected), r(expected);
    float* ch[2] = {l.data(), r.data()};
    receiver.render(ch, std::uint32_t(expected));
    EXPECT_EQ(l.front(), 3.0f / 8.0f);
    EXPECT_EQ(l.back(), 3.0f / 8.0f);
    EXPECT_EQ(r.front(), 4.0f / 8.0f);
    EXPECT_EQ(r.back(), 4.0f / 8.0f);

    // A list shorter than the selection sends silence and counts the block.
    EngineBuffers two(512, 2);
    send.Process(&two.list, 512);
    EXPECT_EQ(send.MissingChannelBlocks(), 1u);
    EXPECT_EQ(send.Unit().sampleTime(), 12512u);
}

} // namespace
