#include "platform/audio/AudioBackend.h"
#include "platform/audio/AudioInputUnit.h"
#include "platform/audio/DeviceRegistry.h"
#include "platform/audio/StreamPaceWatch.h"

#include "support/PrivatePulseServer.h"
#include "support/TestSupport.h"

#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <vector>

using koru::platform::AudioBackend;
using koru::platform::AudioInputStream;
using koru::platform::AudioInputUnit;
using koru::platform::DeviceRegistry;

namespace {

// A PulseAudio server of this test's own with a sine source, under a private runtime folder.
class PulseServer : public ::testing::Test {
protected:
    void SetUp() override {
        if (!koru::test::PrivatePulseServer::installed())
            GTEST_SKIP() << "pulseaudio is not installed: the PulseAudio back-end is not tested";
        const QString failure = m_server.start();
        ASSERT_TRUE(failure.isEmpty()) << failure.toStdString();
    }

    void killServer() { m_server.kill(); }
    static std::uint32_t waitForSource(DeviceRegistry& registry) {
        return koru::test::PrivatePulseServer::sineSource(registry);
    }

    koru::test::PrivatePulseServer m_server;
};

struct BlockCounter {
    std::atomic<int> blocks{0};
    static OSStatus inputProc(void* refCon, AudioUnitRenderActionFlags*, const AudioTimeStamp*,
                              std::uint32_t, std::uint32_t, AudioBufferList*) {
        ++static_cast<BlockCounter*>(refCon)->blocks;
        return noErr;
    }
};

} // namespace

// Killed under a capture, the server leaves RtAudio's stream calling back as fast as the CPU
// allows with read errors: the stream is caught, the unit reports the cause once and moves to
// the virtual input. (The fake server of the input unit's tests shows, deterministically, that
// nothing of the race is handed on.)
TEST_F(PulseServer, AServerKilledUnderACaptureIsReportedOnceAndReplaced) {
    DeviceRegistry registry(AudioBackend::Pulse);
    const std::uint32_t source = waitForSource(registry);
    ASSERT_NE(source, 0u) << "the sine source is not listed";
    AudioInputUnit unit(registry);
    BlockCounter counter;
    const AURenderCallbackStruct callback{&BlockCounter::inputProc, &counter};
    ASSERT_EQ(unit.setProperty(kAudioOutputUnitProperty_CurrentDevice, kAudioUnitScope_Global, 0,
                               &source, sizeof source),
              noErr);
    ASSERT_EQ(unit.setProperty(kAudioOutputUnitProperty_SetInputCallback, kAudioUnitScope_Global, 0,
                               &callback, sizeof callback),
              noErr);
    std::vector<std::string> reasons;
    int blocksAtFailure = -1;
    unit.setFailureHandler([&](std::uint32_t, const QString& why) {
        blocksAtFailure = counter.blocks.load();
        reasons.push_back(why.toStdString());
    });
    ASSERT_EQ(unit.initialize(), noErr);
    ASSERT_EQ(unit.start(), noErr);
    ASSERT_TRUE(koru::test::spinUntil([&] { return counter.blocks.load() >= 20; }, 10000))
        << "the sine source delivered " << counter.blocks.load() << " blocks";

    const int beforeKill = counter.blocks.load();
    killServer();
    ASSERT_TRUE(koru::test::spinUntil(
        [&] { return unit.currentDevice() == registry.virtualInputDevice(); }, 10000));
    ASSERT_EQ(reasons.size(), 1u) << "reported once";
    // Depending on where the client library is when the server goes: an error, a dead stream
    // racing ahead, or a stream thread left waiting for good.
    EXPECT_TRUE(reasons[0] == AudioInputStream::kReadError ||
                reasons[0] == AudioInputStream::kFasterThanRealTime ||
                reasons[0] == AudioInputStream::kStoppedDelivering)
        << reasons[0];
    // What passes after the kill is at most what the server had sent, bounded by the pace
    // check's tolerance: never the tens of seconds a racing dead stream makes up.
    const double passed = double(blocksAtFailure - beforeKill) * 1024;
    EXPECT_LE(passed, 48000.0 * koru::platform::StreamPaceWatch::kToleranceSeconds);
    EXPECT_TRUE(unit.isRunning());
    unit.stop();
}
