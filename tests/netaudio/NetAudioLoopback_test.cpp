#include "engine/SignalSynthesis.h"
#include "netaudio/NetReceiveUnit.h"
#include "netaudio/NetSendUnit.h"
#include "netaudio/ServiceRegistry.h"

#include <gtest/gtest.h>

#include <optional>

#include <chrono>
#include <cmath>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

using namespace koru::netaudio;

namespace {

// Waits for a condition the network threads bring about; the deadline only stops a broken build
// from hanging the suite.
bool eventually(const std::function<bool()>& condition) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

// Statuses as a unit reported them, in order.
class StatusLog {
public:
    std::function<void(NetStatus)> listener() {
        return [this](NetStatus s) {
            std::lock_guard lock(mMutex);
            mSeen.push_back(s);
        };
    }
    std::vector<NetStatus> seen() const {
        std::lock_guard lock(mMutex);
        return mSeen;
    }
    void clear() {
        std::lock_guard lock(mMutex);
        mSeen.clear();
    }

private:
    mutable std::mutex mMutex;
    std::vector<NetStatus> mSeen;
};

bool contains(const std::vector<NetStatus>& seen, std::vector<NetStatus> order) {
    std::size_t k = 0;
    for (NetStatus s : seen)
        if (k < order.size() && s == order[k])
            ++k;
    return k == order.size();
}

struct FormatCase {
    std::uint32_t format;
    float bound;
};

class NetAudioLoopback : public ::testing::TestWithParam<FormatCase> {};

TEST_P(NetAudioLoopback, GeneratorSignalArrivesWithinTheCodecsBound) {
    const FormatCase c = GetParam();
    const std::string name = "KORU Net Send Loopback " + std::to_string(c.format);
    NetSendUnit sender(name, "127.0.0.1");
    sender.setFormatIndex(c.format);
    ASSERT_TRUE(eventually([&] { return sender.status() == NetStatus::Listening; }));
    const auto service = ServiceRegistry::instance().resolve(name);
    ASSERT_TRUE(service);
    EXPECT_EQ(service->port, sender.port());

    NetReceiveUnit receiver;
    receiver.connectTo(service->host, service->port);
    ASSERT_TRUE(eventually([&] {
        return receiver.status() == NetStatus::Connected && sender.status() == NetStatus::Connected;
    })) << receiver.lastError();
    EXPECT_EQ(receiver.streamFormat().formatIndex, c.format);

    koru::SignalSynthesis generator;
    generator.setSampleRate(48000.0);
    generator.setSignalType(koru::SignalSynthesis::Sweep);
    generator.setSweepBounds(20.0f, 2000.0f);
    generator.setAmplitude(0.5f);
    constexpr std::uint32_t kBlock = 1024, kBlocks = 60;
    std::vector<float> sent(kBlock * kBlocks);
    std::vector<float> l(kBlock), r(kBlock), half(kBlock);
    for (std::uint32_t b = 0; b < kBlocks; ++b) {
        float* ch[2] = {l.data(), r.data()};
        generator.render(ch, kBlock);
        for (std::uint32_t i = 0; i < kBlock; ++i)
            half[i] = -0.5f * l[i]; // tells the channels apart
        std::copy(l.begin(), l.end(), sent.begin() + b * kBlock);
        sender.push(l.data(), half.data(), kBlock);
    }
    const std::uint64_t first = receiver.firstSampleTime();
    const std::uint64_t expected = sent.size() - first;
    ASSERT_TRUE(eventually([&] { return receiver.buffered() >= expected; }))
        << receiver.buffered() << " of " << expected;
    EXPECT_LT(first, 4096u) << "frames were lost before the stream started";

    std::vector<float> gotL(expected), gotR(expected);
    for (std::uint64_t at = 0; at < expected; at += kBlock) {
        const auto n = std::uint32_t(std::min<std::uint64_t>(kBlock, expected - at));
        float* ch[2] = {gotL.data() + at, gotR.data() + at};
        receiver.render(ch, n);
    }
    float worst = 0.0f;
    for (std::uint64_t i = 64; i < expected; ++i) {
        const float s = sent[first + i];
        worst = std::max({worst, std::abs(gotL[i] - s), std::abs(gotR[i] + 0.5f * s)});
    }
    EXPECT_LE(worst, c.bound);
    EXPECT_EQ(receiver.gapFrames(), 0u);
    EXPECT_EQ(receiver.underflows(), 0u);
    EXPECT_EQ(sender.overflowFrames(), 0u);

    // Past the end the receiver plays silence and counts the underflow.
    float* ch[2] = {l.data(), r.data()};
    receiver.render(ch, kBlock);
    EXPECT_EQ(l[0], 0.0f);
    EXPECT_EQ(receiver.underflows(), 1u);
}

INSTANTIATE_TEST_SUITE_P(Formats, NetAudioLoopback,
                         ::testing::Values(FormatCase{0, 0.0f}, FormatCase{1, 1.0e-6f},
                                           FormatCase{2, 4.0e-5f}, FormatCase{5, 0.02f},
                                           FormatCase{6, 0.05f}),
                         [](const ::testing::TestParamInfo<FormatCase>& info) {
                             return "Format" + std::to_string(info.param.format);
                         });

TEST(NetAudioLoopbackStates, WrongPasswordIsRefusedAndNotRetried) {
    NetSendUnit sender("KORU Net Send Password", "127.0.0.1");
    const auto announcedWithPassword = [] {
        return ServiceRegistry::instance()
            .resolve("KORU Net Send Password")
            .value()
            .passwordRequired;
    };
    EXPECT_FALSE(announcedWithPassword());
    // The announcement follows the password set after the sender went up, both ways.
    sender.setPassword(std::string("right"));
    ASSERT_TRUE(eventually([&] { return sender.status() == NetStatus::Listening; }));
    EXPECT_TRUE(announcedWithPassword());
    sender.setPassword(std::string());
    EXPECT_FALSE(announcedWithPassword());
    sender.setPassword(std::string("right"));
    EXPECT_TRUE(announcedWithPassword());
    StatusLog log; // outlives the unit, which reports its last status while it shuts down
    NetReceiveUnit receiver;
    receiver.setStatusListener(log.listener());
    receiver.setPassword("wrong");
    receiver.connectTo("127.0.0.1", sender.port());
    ASSERT_TRUE(eventually([&] {
        return contains(log.seen(), {NetStatus::Connecting, NetStatus::NotConnected});
    }));
    EXPECT_NE(receiver.lastError().find("refused"), std::string::npos) << receiver.lastError();
    EXPECT_TRUE(eventually([&] { return sender.status() == NetStatus::Listening; }));
    // With the right password the same pair connects.
    receiver.setPassword("right");
    receiver.connectTo("127.0.0.1", sender.port());
    EXPECT_TRUE(eventually([&] { return receiver.status() == NetStatus::Connected; }))
        << receiver.lastError();
}

TEST(NetAudioLoopbackStates, SecondReceiverIsTurnedAwayBusy) {
    NetSendUnit sender("KORU Net Send Busy", "127.0.0.1");
    ASSERT_TRUE(eventually([&] { return sender.status() == NetStatus::Listening; }));
    NetReceiveUnit first, second;
    first.connectTo("127.0.0.1", sender.port());
    ASSERT_TRUE(eventually([&] { return first.status() == NetStatus::Connected; }));
    second.connectTo("127.0.0.1", sender.port());
    ASSERT_TRUE(eventually([&] { return !second.lastError().empty(); }));
    EXPECT_NE(second.lastError().find("refused"), std::string::npos);
    EXPECT_EQ(second.status(), NetStatus::NotConnected);
    EXPECT_EQ(first.status(), NetStatus::Connected);
}

TEST(NetAudioLoopbackStates, FormatChangeDisconnectsAndReconnects) {
    StatusLog senderLog;
    // A port below the sender's that comes free while it runs: the sender must not move there
    // when it listens again, or the receiver that knows its port would never find it.
    std::optional<NetSendUnit> below(std::in_place, "KORU Net Send Below", "127.0.0.1");
    ASSERT_TRUE(eventually([&] { return below->port() != 0; }));
    NetSendUnit sender("KORU Net Send Format", "127.0.0.1");
    sender.setStatusListener(senderLog.listener());
    ASSERT_TRUE(eventually([&] { return sender.status() == NetStatus::Listening; }));
    const std::uint16_t port = sender.port();
    below.reset();
    NetReceiveUnit receiver;
    receiver.connectTo("127.0.0.1", sender.port());
    ASSERT_TRUE(eventually([&] { return receiver.status() == NetStatus::Connected; }));

    // A rate change keeps the connection and announces the new format.
    sender.setSampleRate(96000.0);
    ASSERT_TRUE(eventually([&] { return receiver.formatChanges() > 0; }));
    EXPECT_EQ(receiver.streamFormat().rate, 96000.0);

    senderLog.clear();
    sender.setFormatIndex(6);
    EXPECT_EQ(sender.formatIndex(), 6u);
    ASSERT_TRUE(eventually([&] {
        return receiver.status() == NetStatus::Connected &&
               receiver.streamFormat().formatIndex == 6;
    })) << receiver.lastError();
    EXPECT_EQ(sender.port(), port);
    // The receiver can see the new stream before the sender has heard its answer, and a status
    // is stored before its listener hears of it: wait for the sender's whole way round.
    EXPECT_TRUE(eventually([&] {
        return contains(senderLog.seen(), {NetStatus::NotConnected, NetStatus::Listening,
                                           NetStatus::Connecting, NetStatus::Connected});
    }));
}

TEST(NetAudioLoopbackStates, PortOutsideRangeIsRefusedAndBusyPortsAreSkipped) {
    NetSendUnit a("KORU Net Send Port A", "127.0.0.1");
    ASSERT_TRUE(eventually([&] { return a.port() != 0; }));
    EXPECT_FALSE(a.setPort(0));
    EXPECT_FALSE(a.setPort(65536));
    NetSendUnit b("KORU Net Send Port B", "127.0.0.1");
    ASSERT_TRUE(b.setPort(a.port()));
    ASSERT_TRUE(eventually([&] { return b.port() != 0; }));
    EXPECT_NE(b.port(), a.port());
}

TEST(NetAudioLoopbackStates, SenderWithoutReceiverDiscardsWithoutBlocking) {
    NetSendUnit sender("KORU Net Send Alone", "127.0.0.1");
    std::vector<float> block(1024, 0.1f);
    for (int i = 0; i < 200; ++i)
        sender.push(block.data(), block.data(), 1024);
    EXPECT_EQ(sender.sampleTime(), 200u * 1024u);
    EXPECT_EQ(sender.overflowFrames(), 0u);
}

} // namespace
