#include "platform/audio/AudioInputUnit.h"
#include "platform/audio/DeviceRegistry.h"
#include "zotools/ZOAudioInput.h"
#include "zotools/ZOInputClientException.h"

#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <mutex>
#include <optional>
#include <string>
#include <thread>

using koru::platform::DeviceRegistry;
using koru::platform::VirtualInputConfig;
using koru::platform::VirtualInputFaults;
using koru::platform::VirtualSignal;

namespace {

// Everything the engine tells its clients, in the order it happens.
class EventLog {
public:
    void add(std::string event) {
        std::lock_guard lock(m_mutex);
        m_events.push_back(std::move(event));
    }
    std::vector<std::string> take() {
        std::lock_guard lock(m_mutex);
        return std::exchange(m_events, {});
    }

private:
    std::mutex m_mutex;
    std::vector<std::string> m_events;
};

class Recorder : public ZOInputClient {
public:
    Recorder(std::string name, EventLog& log, bool pauseable = false)
        : m_name(std::move(name)), m_log(log), m_pauseable(pauseable) {}

    void Process(const AudioBufferList* buffers, std::uint32_t frames) override {
        m_log.add(m_name + ":Process");
        {
            std::lock_guard lock(m_mutex);
            m_frames.push_back(frames);
            const auto* first = static_cast<const float*>(buffers->mBuffers[0].mData);
            m_first.insert(m_first.end(), first, first + frames);
            m_buffers = buffers->mNumberBuffers;
        }
        if (m_throw)
            throw ZOInputClientException(*m_throw);
    }
    void SetNumberOfChannels(std::uint32_t count) override {
        m_numberOfChannels.store(count);
        m_log.add(m_name + ":SetNumberOfChannels(" + std::to_string(count) + ")");
    }
    void ChannelsChanged(std::uint32_t, std::uint32_t) override {}
    void SetHost(ZOAudioInput* host) override {
        ZOInputClient::SetHost(host);
        m_log.add(m_name + ":SetHost");
    }
    bool IsPauseable() const override { return m_pauseable; }

    void throwOnProcess(std::uint64_t code) { m_throw = code; }
    std::vector<float> firstChannel() const {
        std::lock_guard lock(m_mutex);
        return m_first;
    }
    std::vector<std::uint32_t> frames() const {
        std::lock_guard lock(m_mutex);
        return m_frames;
    }

private:
    std::string m_name;
    EventLog& m_log;
    bool m_pauseable;
    std::optional<std::uint64_t> m_throw;
    mutable std::mutex m_mutex;
    std::vector<std::uint32_t> m_frames;
    std::vector<float> m_first;
    std::uint32_t m_buffers = 0;
};

class TestEngine : public ZOAudioInput {
public:
    explicit TestEngine(AudioDeviceID device) : ZOAudioInput(device, 1024) {}
    void AfterProcess() override { ++afterProcess; }
    void ErrorHandler(std::uint64_t code) override { errors.push_back(code); }
    koru::platform::AudioInputUnit& unit() {
        return *static_cast<koru::platform::AudioInputUnit*>(Instance());
    }

    std::atomic<int> afterProcess{0};
    std::vector<std::uint64_t> errors;
};

// A manual device of its own for each test: its ramp on channel 0 numbers every frame.
class InputEngine : public ::testing::Test {
protected:
    InputEngine() {
        VirtualInputConfig config;
        config.name = "Engine Test";
        config.channels = 3;
        config.periodFrames = 480;
        config.manual = true;
        config.channelSignals = {VirtualSignal::ramp()};
        device = registry().addVirtualInput(config);
    }
    ~InputEngine() override { registry().removeDevice(device); }

    static DeviceRegistry& registry() { return DeviceRegistry::shared(); }
    void pump(std::uint32_t frames) { registry().virtualInput(device)->pump(frames); }

    std::uint32_t device = 0;
    EventLog log;
};

} // namespace

TEST_F(InputEngine, DeviceZeroMeansTheDefaultInput) {
    testing::internal::CaptureStdout();
    TestEngine engine(0);
    const std::string printed = testing::internal::GetCapturedStdout();
    const AudioDeviceID fallback = registry().defaultInputDevice();
    EXPECT_NE(printed.find("Trying to initialize Audio Engine with Device ID 0... -I think I'll "
                           "better use the Default Input Device with the Device ID " +
                           std::to_string(fallback) + ".\n"),
              std::string::npos)
        << printed;
    EXPECT_NE(printed.find("\nUsing a Buffer Size of 1024 frames.\n"), std::string::npos);
    EXPECT_NE(printed.find("\nAudio Engine is set up and fine."), std::string::npos);
    EXPECT_EQ(engine.GetCurrentDevice(), fallback);
}

TEST_F(InputEngine, DeviceThatIsGoneFallsBackToTheDefault) {
    testing::internal::CaptureStdout();
    TestEngine engine(999999);
    const std::string printed = testing::internal::GetCapturedStdout();
    EXPECT_NE(printed.find("Device ID 999999 is not available"), std::string::npos) << printed;
    EXPECT_EQ(engine.GetCurrentDevice(), registry().defaultInputDevice());
    EXPECT_NE(engine.BufferList(), nullptr);
}

TEST_F(InputEngine, ClientFormatAndBuffersFollowTheDevice) {
    TestEngine engine(device);
    EXPECT_EQ(engine.HardwareChannels(), 3u);
    EXPECT_EQ(engine.TotalChannels(), 3u);
    EXPECT_EQ(engine.GrantedFrames(), 1024u);
    EXPECT_EQ(engine.ClientFormat().mFormatFlags, 41u);
    EXPECT_EQ(engine.ClientFormat().mSampleRate, 48000.0);
    ASSERT_NE(engine.BufferList(), nullptr);
    EXPECT_EQ(engine.BufferList()->mNumberBuffers, 3u);
    EXPECT_EQ(engine.BufferList()->mBuffers[2].mDataByteSize, 4096u);

    VirtualInputConfig mono;
    mono.name = "Mono";
    mono.channels = 1;
    mono.manual = true;
    const std::uint32_t single = registry().addVirtualInput(mono);
    {
        TestEngine monoEngine(single);
        EXPECT_EQ(monoEngine.ClientFormat().mFormatFlags, 9u);
        EXPECT_EQ(monoEngine.ClientFormat().mChannelsPerFrame, 1u);
    }
    registry().removeDevice(single);
}

TEST_F(InputEngine, ClientsHearTheEngineInTheDocumentedOrder) {
    TestEngine engine(device);
    Recorder a("a", log);
    Recorder b("b", log, true);
    engine.AddClient(&a);
    engine.AddClient(&b);
    engine.AddClient(nullptr);
    EXPECT_EQ(log.take(), (std::vector<std::string>{"a:SetHost", "a:SetNumberOfChannels(3)",
                                                    "b:SetHost", "b:SetNumberOfChannels(3)"}));
    b.SetPaused(true);
    engine.Reconfigure(0, 0, 0);
    EXPECT_EQ(log.take(),
              (std::vector<std::string>{"a:SetNumberOfChannels(3)", "b:SetNumberOfChannels(3)",
                                        "a:SetHost", "b:SetHost"}))
        << "a paused client is still told";
    ASSERT_TRUE(engine.IsRunning());
    pump(1024);
    EXPECT_EQ(log.take(), std::vector<std::string>{"a:Process"});
    b.SetPaused(false);
    pump(1024);
    EXPECT_EQ(log.take(), (std::vector<std::string>{"a:Process", "b:Process"}));
    EXPECT_EQ(engine.afterProcess.load(), 2);

    engine.RemoveClient(&a);
    // Removed, it forgets the engine: it may outlive it, and its destructor must not reach back.
    EXPECT_EQ(a.Host(), nullptr);
    pump(1024);
    EXPECT_EQ(log.take(), std::vector<std::string>{"b:Process"});
    engine.RemoveClient(&a); // not in the list: nothing changes
    EXPECT_EQ(engine.NumberOfClients(), 1u);
    engine.Stop();
}

TEST_F(InputEngine, AFailingClientIsReportedAndTheNextOneStillRuns) {
    TestEngine engine(device);
    Recorder a("a", log);
    Recorder b("b", log);
    a.throwOnProcess(5);
    engine.AddClient(&a);
    engine.AddClient(&b);
    engine.Start();
    log.take();
    pump(1024);
    EXPECT_EQ(log.take(), (std::vector<std::string>{"a:Process", "b:Process"}));
    EXPECT_EQ(engine.errors, std::vector<std::uint64_t>{5});
    EXPECT_EQ(engine.afterProcess.load(), 1);
    engine.Stop();
}

TEST_F(InputEngine, ClientsGetWholeBlocksFromADeviceWithAnotherPeriod) {
    TestEngine engine(device);
    Recorder a("a", log);
    engine.AddClient(&a);
    EXPECT_EQ(a.HostBufferFrames(), 1024u);
    EXPECT_EQ(a.HostSampleRate(), 48000.0);
    engine.Start();
    for (int i = 0; i < 32; ++i)
        pump(480); // 15360 frames: 15 whole blocks
    engine.Stop();
    EXPECT_EQ(a.frames(), std::vector<std::uint32_t>(15, 1024));
    const std::vector<float> ramp = a.firstChannel();
    ASSERT_EQ(ramp.size(), 15u * 1024);
    for (std::size_t n = 0; n < ramp.size(); ++n)
        ASSERT_EQ(ramp[n], VirtualSignal::ramp().sampleAt(n, 48000.0)) << "frame " << n;
}

TEST_F(InputEngine, AFailedDeviceHandsNothingOnThenIsReplacedByTheVirtualInput) {
    TestEngine engine(device);
    Recorder a("a", log);
    engine.AddClient(&a);
    engine.Start();
    pump(1024);
    registry().virtualInput(device)->failStreams();
    pump(4096);
    EXPECT_EQ(a.frames().size(), 1u) << "no block of a failed stream reaches a client";
    log.take();

    // The unit's main-thread watchdog notices, switches and the engine reconfigures.
    ASSERT_TRUE(koru::test::spinUntil(
        [&] { return engine.GetCurrentDevice() == registry().virtualInputDevice(); }, 3000));
    EXPECT_TRUE(engine.IsRunning());
    EXPECT_EQ(engine.HardwareChannels(), 2u);
    EXPECT_EQ(a.NumberOfChannels(), 2u);
    ASSERT_TRUE(koru::test::spinUntil([&] { return a.frames().size() >= 3; }, 5000))
        << "the virtual input delivers";
    engine.Stop();
    const auto events = log.take();
    ASSERT_GE(events.size(), 2u);
    EXPECT_EQ(events[0], "a:SetNumberOfChannels(2)");
    EXPECT_EQ(events[1], "a:SetHost");
}

// A start the device refuses is not swallowed: the engine knows it is not running and why, and
// the unit's move to the virtual input restarts it there.
TEST_F(InputEngine, ARefusedStartLeavesTheEngineStoppedUntilTheMove) {
    VirtualInputFaults busy;
    busy.refuseOpen = kAudioHardwareIllegalOperationError;
    registry().virtualInput(device)->setFaults(busy);
    TestEngine engine(device);
    std::vector<std::uint32_t> failed;
    engine.HardwareUnit()->setFailureHandler(
        [&](std::uint32_t id, const QString&) { failed.push_back(id); });
    testing::internal::CaptureStdout();
    engine.Start();
    const std::string printed = testing::internal::GetCapturedStdout();
    EXPECT_NE(printed.find("ERROR!"), std::string::npos) << printed;
    EXPECT_FALSE(engine.IsRunning());
    EXPECT_EQ(engine.LastStartError(), kAudioHardwareIllegalOperationError);

    ASSERT_TRUE(koru::test::spinUntil([&] { return engine.IsRunning(); }));
    EXPECT_EQ(failed, std::vector<std::uint32_t>{device});
    EXPECT_EQ(engine.GetCurrentDevice(), registry().virtualInputDevice());
    EXPECT_EQ(engine.LastStartError(), noErr);
    engine.Stop();
}

// A pass that finds the engine busy is skipped, counted at once and credited to every client
// registered when the next pass runs: nobody reads a skipped block as if it had been there.
TEST_F(InputEngine, SkippedPassesAreCountedAndCreditedToEveryClient) {
    TestEngine engine(device);
    Recorder a("a", log);
    Recorder b("b", log, true);
    engine.AddClient(&a);
    engine.AddClient(&b);
    b.SetPaused(true); // not processing, but a block it would have seen is gone all the same
    engine.Start();
    pump(1024);
    {
        std::lock_guard edit(engine.EngineMutex()); // a list edit in progress
        std::thread audio([&] { pump(3 * 1024); });
        audio.join();
        EXPECT_EQ(engine.SkippedBlocks(), 3u);
        EXPECT_EQ(a.SkippedBlocks(), 0u) << "credited by the next pass, under the mutex";
    }
    pump(1024);
    EXPECT_EQ(a.frames().size(), 2u);
    EXPECT_EQ(a.SkippedBlocks(), 3u);
    EXPECT_EQ(b.SkippedBlocks(), 3u);
    pump(1024);
    EXPECT_EQ(a.SkippedBlocks(), 3u) << "credited once";
    engine.Stop();
}
