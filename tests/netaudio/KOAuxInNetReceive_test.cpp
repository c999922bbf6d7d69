#include "netaudio/KOAuxInNetReceive.h"
#include "netaudio/NetSendUnit.h"

#include "engine/EngineTestSupport.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

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

TEST(KOAuxInNetReceive, NamesItsTwoChannels) {
    KOAuxInNetReceive input(std::make_unique<ManualOutput>(48000.0, true));
    EXPECT_EQ(input.NumberOfChannels(), 2u);
    EXPECT_EQ(input.Name(0), QStringLiteral("Net Receive 1"));
    EXPECT_EQ(input.Name(1), QStringLiteral("Net Receive 2"));
    EXPECT_EQ(input.Name(2), QStringLiteral("Net Receive"));
}

// The sender's frames reach the engine's auxiliary channels; before the stream starts the
// engine's channels carry silence, not leftovers.
TEST(KOAuxInNetReceive, StreamReachesTheEngineChannels) {
    NetSendUnit sender("KORU Net Send Aux", "127.0.0.1");
    ASSERT_TRUE(eventually([&] { return sender.status() == NetStatus::Listening; }));
    auto speakers = std::make_unique<ManualOutput>(48000.0, true);
    ManualOutput* output = speakers.get();
    KOAuxInNetReceive input(std::move(speakers));
    input.SetEngineSampleRate(48000.0);
    input.Start();
    input.Receiver().connectTo("127.0.0.1", sender.port());
    ASSERT_TRUE(eventually([&] { return input.Receiver().status() == NetStatus::Connected; }));

    std::vector<float> l(1024, 0.25f), r(1024, -0.125f);
    for (int i = 0; i < 16; ++i)
        sender.push(l.data(), r.data(), 1024);
    ASSERT_TRUE(eventually([&] { return input.Receiver().buffered() >= 8192; }));

    BufferListStorage engine(4, 1024);
    bool sawSignal = false;
    for (int pass = 0; pass < 12 && !sawSignal; ++pass) {
        output->pull();
        input.Render(engine.list(), 2, 1024);
        sawSignal = engine.channel(2).back() == 0.25f && engine.channel(3).back() == -0.125f;
    }
    EXPECT_TRUE(sawSignal);
}

} // namespace
