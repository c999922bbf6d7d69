#include "AudioTestClock.h"
#include "platform/audio/AudioInputUnit.h"
#include "platform/audio/AudioOutputUnit.h"
#include "platform/audio/DeviceRegistry.h"
#include "platform/audio/NullOutputDevice.h"
#include "platform/audio/PacedThread.h"
#include "platform/audio/StreamPaceWatch.h"

#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <string>
#include <vector>

using koru::platform::AudioBackend;
using koru::platform::AudioInputStream;
using koru::platform::AudioInputUnit;
using koru::platform::DeviceRegistry;
using koru::platform::VirtualInputConfig;
using koru::platform::VirtualInputFaults;
using koru::platform::VirtualSignal;
using koru::test::TestClock;

namespace {

// Drives an input unit the way the engine does: its input callback renders each block into a
// buffer list of `channels` buffers and keeps a copy of everything it got.
class Capture {
public:
    explicit Capture(std::uint32_t channels, std::uint32_t frames = 1024)
        : m_storage(std::size_t(channels) * frames), m_buffers(channels) {
        m_list.mNumberBuffers = channels;
        m_list.mBuffers = m_buffers.data();
        m_frames = frames;
    }

    void attach(AudioInputUnit& unit) {
        m_unit = &unit;
        const AURenderCallbackStruct callback{&Capture::inputProc, this};
        ASSERT_EQ(unit.setProperty(kAudioOutputUnitProperty_SetInputCallback,
                                   kAudioUnitScope_Global, 0, &callback, sizeof callback),
                  noErr);
    }

    std::size_t blocks() const {
        std::lock_guard lock(m_mutex);
        return m_sampleTimes.size();
    }
    std::vector<float> channel(std::uint32_t c) const {
        std::lock_guard lock(m_mutex);
        return m_received.size() > c ? m_received[c] : std::vector<float>{};
    }
    std::vector<double> sampleTimes() const {
        std::lock_guard lock(m_mutex);
        return m_sampleTimes;
    }
    std::vector<std::uint32_t> frameCounts() const {
        std::lock_guard lock(m_mutex);
        return m_frameCounts;
    }
    std::vector<OSStatus> statuses() const {
        std::lock_guard lock(m_mutex);
        return m_statuses;
    }

private:
    static OSStatus inputProc(void* refCon, AudioUnitRenderActionFlags* flags,
                              const AudioTimeStamp* time, std::uint32_t bus, std::uint32_t frames,
                              AudioBufferList*) {
        auto* self = static_cast<Capture*>(refCon);
        for (std::uint32_t c = 0; c < self->m_list.mNumberBuffers; ++c) {
            self->m_buffers[c].mData = self->m_storage.data() + std::size_t(c) * self->m_frames;
            self->m_buffers[c].mDataByteSize = self->m_frames * 4;
        }
        const OSStatus status = self->m_unit->render(flags, time, bus, frames, &self->m_list);
        std::lock_guard lock(self->m_mutex);
        self->m_received.resize(self->m_list.mNumberBuffers);
        for (std::uint32_t c = 0; c < self->m_list.mNumberBuffers; ++c) {
            const auto* data = static_cast<const float*>(self->m_buffers[c].mData);
            self->m_received[c].insert(self->m_received[c].end(), data, data + frames);
        }
        self->m_sampleTimes.push_back(time->mSampleTime);
        self->m_frameCounts.push_back(frames);
        self->m_statuses.push_back(status);
        return noErr;
    }

    AudioInputUnit* m_unit = nullptr;
    std::vector<float> m_storage;
    std::vector<AudioBuffer> m_buffers;
    AudioBufferList m_list;
    std::uint32_t m_frames;
    mutable std::mutex m_mutex;
    std::vector<std::vector<float>> m_received;
    std::vector<double> m_sampleTimes;
    std::vector<std::uint32_t> m_frameCounts;
    std::vector<OSStatus> m_statuses;
};

VirtualInputConfig manualDevice(std::uint32_t channels, std::uint32_t period) {
    VirtualInputConfig config;
    config.name = "Manual Test";
    config.channels = channels;
    config.periodFrames = period;
    config.manual = true;
    config.channelSignals = {VirtualSignal::ramp(), VirtualSignal::constant(0.25f),
                             VirtualSignal::constant(-0.5f)};
    return config;
}

class InputUnit : public ::testing::Test {
protected:
    std::uint32_t plug(std::uint32_t channels = 3, std::uint32_t period = 480) {
        return registry.addVirtualInput(manualDevice(channels, period));
    }
    std::uint32_t plugFaulty(const VirtualInputFaults& faults, TestClock* clock = nullptr) {
        VirtualInputConfig config = manualDevice(2, 480);
        config.faults = faults;
        config.clock = clock;
        return registry.addVirtualInput(config);
    }
    // Every failure the unit reports, with its reason.
    void recordFailures() {
        unit.setFailureHandler([this](std::uint32_t id, const QString& reason) {
            failures.emplace_back(id, reason.toStdString());
        });
    }
    void startOn(std::uint32_t device, Capture& capture) {
        ASSERT_EQ(unit.setProperty(kAudioOutputUnitProperty_CurrentDevice, kAudioUnitScope_Global,
                                   0, &device, sizeof device),
                  noErr);
        capture.attach(unit);
        ASSERT_EQ(unit.initialize(), noErr);
        ASSERT_EQ(unit.start(), noErr);
    }
    void pump(std::uint32_t device, std::uint32_t frames) {
        ASSERT_TRUE(registry.virtualInput(device)->pump(frames));
    }

    DeviceRegistry registry{AudioBackend::Virtual};
    AudioInputUnit unit{registry};
    std::vector<std::pair<std::uint32_t, std::string>> failures;
};

bool mentions(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

} // namespace

TEST_F(InputUnit, ReblocksAnyDevicePeriodIntoExactBlocksWithoutLosingOrRepeatingASample) {
    for (std::uint32_t period : {480u, 4096u, 1024u, 1000u, 64u}) {
        SCOPED_TRACE(period);
        AudioInputUnit local(registry);
        Capture capture(1);
        const std::uint32_t device = plug(1, period);
        local.setProperty(kAudioOutputUnitProperty_CurrentDevice, kAudioUnitScope_Global, 0,
                          &device, sizeof device);
        capture.attach(local);
        ASSERT_EQ(local.initialize(), noErr);
        ASSERT_EQ(local.start(), noErr);
        const std::uint32_t periods = 60;
        for (std::uint32_t i = 0; i < periods; ++i)
            pump(device, period);

        const std::size_t expectedBlocks = std::size_t(periods) * period / 1024;
        ASSERT_EQ(capture.blocks(), expectedBlocks);
        for (std::uint32_t frames : capture.frameCounts())
            ASSERT_EQ(frames, 1024u);
        const std::vector<double> times = capture.sampleTimes();
        for (std::size_t b = 0; b < times.size(); ++b)
            ASSERT_EQ(times[b], double(b) * 1024);
        const std::vector<float> ramp = capture.channel(0);
        ASSERT_EQ(ramp.size(), expectedBlocks * 1024);
        for (std::size_t n = 0; n < ramp.size(); ++n)
            ASSERT_EQ(ramp[n], VirtualSignal::ramp().sampleAt(n, 48000.0)) << "frame " << n;
        local.stop();
    }
}

TEST_F(InputUnit, ChannelMapRoutesDeviceChannelsAndSilencesUnmappedOnes) {
    Capture capture(3);
    const std::uint32_t device = plug();
    const std::int32_t map[] = {2, -1, 1};
    ASSERT_EQ(unit.setProperty(kAudioOutputUnitProperty_CurrentDevice, kAudioUnitScope_Global, 0,
                               &device, sizeof device),
              noErr);
    ASSERT_EQ(unit.setProperty(kAudioOutputUnitProperty_ChannelMap, kAudioUnitScope_Input, 1, map,
                               sizeof map),
              noErr);
    capture.attach(unit);
    ASSERT_EQ(unit.initialize(), noErr);
    ASSERT_EQ(unit.start(), noErr);
    pump(device, 1024);
    ASSERT_EQ(capture.blocks(), 1u);
    EXPECT_EQ(capture.channel(0).front(), -0.5f);
    EXPECT_EQ(capture.channel(1).front(), 0.0f);
    EXPECT_EQ(capture.channel(2).back(), 0.25f);

    std::int32_t readBack[3] = {};
    std::uint32_t size = sizeof readBack;
    ASSERT_EQ(unit.getProperty(kAudioOutputUnitProperty_ChannelMap, kAudioUnitScope_Input, 1,
                               readBack, &size),
              noErr);
    EXPECT_EQ(size, sizeof readBack);
    EXPECT_EQ(std::vector<std::int32_t>(readBack, readBack + 3),
              std::vector<std::int32_t>(map, map + 3));
}

TEST_F(InputUnit, ChannelMapsTheDeviceCannotServeAreRefused) {
    const std::uint32_t device = plug(2);
    unit.setProperty(kAudioOutputUnitProperty_CurrentDevice, kAudioUnitScope_Global, 0, &device,
                     sizeof device);
    const std::int32_t tooLong[] = {0, 1, -1};
    const std::int32_t pastTheDevice[] = {0, 2};
    const std::int32_t belowNone[] = {-2};
    for (const auto& [data, size] : {std::pair<const void*, std::uint32_t>{tooLong, sizeof tooLong},
                                     {pastTheDevice, sizeof pastTheDevice},
                                     {belowNone, sizeof belowNone},
                                     {tooLong, 5u}})
        EXPECT_EQ(unit.setProperty(kAudioOutputUnitProperty_ChannelMap, kAudioUnitScope_Input, 1,
                                   data, size),
                  kAudioUnitErr_InvalidPropertyValue);
}

TEST_F(InputUnit, ClientFormatsTheInputCannotDeliverAreRefused) {
    const std::uint32_t device = plug(2);
    unit.setProperty(kAudioOutputUnitProperty_CurrentDevice, kAudioUnitScope_Global, 0, &device,
                     sizeof device);
    AudioStreamBasicDescription good;
    std::uint32_t size = sizeof good;
    ASSERT_EQ(
        unit.getProperty(kAudioUnitProperty_StreamFormat, kAudioUnitScope_Input, 1, &good, &size),
        noErr);
    EXPECT_EQ(good.mSampleRate, 48000.0);
    EXPECT_EQ(good.mChannelsPerFrame, 2u);
    EXPECT_EQ(good.mFormatFlags, 41u);

    auto refused = [&](AudioStreamBasicDescription f) {
        return unit.setProperty(kAudioUnitProperty_StreamFormat, kAudioUnitScope_Output, 1, &f,
                                sizeof f) == kAudioUnitErr_FormatNotSupported;
    };
    AudioStreamBasicDescription otherRate = good;
    otherRate.mSampleRate = 44100.0;
    AudioStreamBasicDescription interleaved = good;
    interleaved.mFormatFlags = kAudioFormatFlagsFloatPacked;
    AudioStreamBasicDescription integer = good;
    integer.mFormatFlags = kAudioFormatFlagIsPacked | kAudioFormatFlagIsNonInterleaved;
    AudioStreamBasicDescription tooWide = good;
    tooWide.mChannelsPerFrame = 257;
    for (const auto& f : {otherRate, interleaved, integer, tooWide})
        EXPECT_TRUE(refused(f));
    AudioStreamBasicDescription wider = good;
    wider.mChannelsPerFrame = 6; // room for channels the engine adds itself
    EXPECT_EQ(unit.setProperty(kAudioUnitProperty_StreamFormat, kAudioUnitScope_Output, 1, &wider,
                               sizeof wider),
              noErr);
    EXPECT_EQ(unit.setProperty(kAudioUnitProperty_StreamFormat, kAudioUnitScope_Input, 1, &good,
                               sizeof good),
              kAudioUnitErr_PropertyNotWritable);
}

TEST_F(InputUnit, UnknownDevicesAndRatesAreRefusedWithoutChangingAnything) {
    const std::uint32_t before = unit.currentDevice();
    const std::uint32_t missing = 777;
    EXPECT_EQ(unit.setProperty(kAudioOutputUnitProperty_CurrentDevice, kAudioUnitScope_Global, 0,
                               &missing, sizeof missing),
              kAudioHardwareBadDeviceError);
    const std::uint32_t output = registry.nullOutputDevice();
    EXPECT_EQ(unit.setProperty(kAudioOutputUnitProperty_CurrentDevice, kAudioUnitScope_Global, 0,
                               &output, sizeof output),
              kAudioHardwareBadDeviceError);
    EXPECT_EQ(unit.currentDevice(), before);
    const double rate = 12345.0;
    EXPECT_EQ(unit.setProperty(kAudioDevicePropertyNominalSampleRate, kAudioUnitScope_Global, 0,
                               &rate, sizeof rate),
              kAudioDeviceUnsupportedFormatError);
    const std::uint32_t frames = 5;
    EXPECT_EQ(unit.setProperty(kAudioDevicePropertyBufferFrameSize, kAudioUnitScope_Global, 0,
                               &frames, sizeof frames),
              kAudioUnitErr_InvalidPropertyValue);
    EXPECT_EQ(unit.start(), kAudioUnitErr_Uninitialized);
}

TEST_F(InputUnit, RateChangeOfTheCurrentDeviceIsHeard) {
    const std::uint32_t device = plug(2);
    unit.setProperty(kAudioOutputUnitProperty_CurrentDevice, kAudioUnitScope_Global, 0, &device,
                     sizeof device);
    int heard = 0;
    unit.addPropertyListener(
        kAudioDevicePropertyNominalSampleRate,
        [&](AudioUnitPropertyID, AudioUnitScope, AudioUnitElement) { ++heard; });
    const double rate = 96000.0;
    ASSERT_EQ(unit.setProperty(kAudioDevicePropertyNominalSampleRate, kAudioUnitScope_Global, 0,
                               &rate, sizeof rate),
              noErr);
    EXPECT_EQ(heard, 1);
    double readBack = 0;
    std::uint32_t size = sizeof readBack;
    unit.getProperty(kAudioDevicePropertyNominalSampleRate, kAudioUnitScope_Global, 0, &readBack,
                     &size);
    EXPECT_EQ(readBack, 96000.0);
    registry.setNominalSampleRate(registry.virtualInputDevice(), 44100.0);
    EXPECT_EQ(heard, 1) << "another device's rate";
}

// A stream that fails hands nothing more on: no silence, no stale buffer reads as audio.
TEST_F(InputUnit, AFailedStreamHandsNothingOnIsReportedOnceAndReplacedByTheVirtualInput) {
    Capture capture(2);
    const std::uint32_t device = plug(2);
    recordFailures();
    int switches = 0;
    unit.addPropertyListener(
        kAudioOutputUnitProperty_CurrentDevice,
        [&](AudioUnitPropertyID, AudioUnitScope, AudioUnitElement) { ++switches; });
    startOn(device, capture);
    switches = 0;
    pump(device, 1024);
    registry.virtualInput(device)->failStreams();
    pump(device, 4096);
    EXPECT_EQ(capture.blocks(), 1u);

    unit.checkDevice();
    unit.checkDevice();
    ASSERT_EQ(failures.size(), 1u);
    EXPECT_EQ(failures[0].first, device);
    EXPECT_EQ(failures[0].second, AudioInputStream::kStoppedDelivering);
    EXPECT_EQ(switches, 1);
    EXPECT_EQ(unit.currentDevice(), registry.virtualInputDevice());
    EXPECT_TRUE(unit.isRunning());
    EXPECT_TRUE(mentions(unit.failureReason(), "Manual Test"));
    // The virtual input keeps real time on its own thread: wait for its count.
    EXPECT_TRUE(koru::test::spinUntil([&] { return capture.blocks() >= 4; }, 5000));
    unit.stop();
}

// A device that is listed but will not run: the caller hears the status, the unit knows it is
// not running, and the main loop reports the cause and moves to the virtual input.
TEST_F(InputUnit, DevicesThatRefuseToRunAreReportedAndReplaced) {
    struct Case {
        const char* label;
        VirtualInputFaults faults;
        bool changeRate; // the refusal comes with a rate change, not with start
        OSStatus status;
        const char* cause;
    };
    VirtualInputFaults busy;
    busy.refuseOpen = kAudioHardwareIllegalOperationError;
    VirtualInputFaults wontStart;
    wontStart.refuseStart = kAudioHardwareNotRunningError;
    VirtualInputFaults no96k;
    no96k.refusedRates = {96000.0};
    const Case cases[] = {
        {"busy", busy, false, kAudioHardwareIllegalOperationError, "is busy"},
        {"refuses to start", wontStart, false, kAudioHardwareNotRunningError, "refused to start"},
        {"refuses a rate", no96k, true, noErr, "refused 96000 Hz"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        AudioInputUnit local(registry);
        std::vector<std::string> reasons;
        local.setFailureHandler(
            [&](std::uint32_t, const QString& reason) { reasons.push_back(reason.toStdString()); });
        Capture capture(2);
        const std::uint32_t device = plugFaulty(c.faults);
        local.setProperty(kAudioOutputUnitProperty_CurrentDevice, kAudioUnitScope_Global, 0,
                          &device, sizeof device);
        capture.attach(local);
        ASSERT_EQ(local.initialize(), noErr);
        OSStatus status = local.start();
        if (c.changeRate) {
            ASSERT_EQ(status, noErr);
            status = registry.setNominalSampleRate(device, 96000.0);
        }
        EXPECT_EQ(status, c.status);
        EXPECT_FALSE(local.isRunning());
        EXPECT_EQ(local.currentDevice(), device) << "moved from the main loop, not inside start";
        EXPECT_TRUE(reasons.empty());

        ASSERT_TRUE(koru::test::spinUntil([&] { return !reasons.empty(); }));
        ASSERT_EQ(reasons.size(), 1u);
        EXPECT_TRUE(mentions(reasons[0], c.cause)) << reasons[0];
        EXPECT_TRUE(mentions(local.failureReason(), c.cause)) << local.failureReason();
        EXPECT_EQ(local.currentDevice(), registry.virtualInputDevice());
        EXPECT_TRUE(local.isRunning());
        local.stop();
    }
}

TEST_F(InputUnit, WhenEvenTheVirtualInputRefusesTheUnitSaysItIsNotRunning) {
    VirtualInputFaults busy;
    busy.refuseOpen = kAudioHardwareIllegalOperationError;
    registry.virtualInput(registry.virtualInputDevice())->setFaults(busy);
    const std::uint32_t device = plugFaulty(busy);
    recordFailures();
    Capture capture(2);
    ASSERT_EQ(unit.start(), kAudioUnitErr_Uninitialized);
    unit.setProperty(kAudioOutputUnitProperty_CurrentDevice, kAudioUnitScope_Global, 0, &device,
                     sizeof device);
    capture.attach(unit);
    ASSERT_EQ(unit.initialize(), noErr);
    EXPECT_EQ(unit.start(), kAudioHardwareIllegalOperationError);
    unit.checkDevice(); // the device, then the virtual input it moved to
    unit.checkDevice();
    unit.checkDevice();
    ASSERT_EQ(failures.size(), 2u);
    EXPECT_EQ(failures[0].first, device);
    EXPECT_EQ(failures[1].first, registry.virtualInputDevice());
    EXPECT_FALSE(unit.isRunning());
}

// A device whose server dies after a known number of frames: exactly those reach the client.
TEST_F(InputUnit, AStreamThatFailsAfterNFramesHandsOnExactlyThoseFrames) {
    VirtualInputFaults dies;
    dies.failAfterFrames = 5000;
    const std::uint32_t device = plugFaulty(dies);
    recordFailures();
    Capture capture(2);
    startOn(device, capture);
    for (int i = 0; i < 20; ++i)
        pump(device, 480); // 9600 frames offered, 5000 real
    EXPECT_EQ(capture.blocks(), 4u) << "4096 whole frames; the rest of the block is dropped";
    const std::vector<float> ramp = capture.channel(0);
    for (std::size_t n = 0; n < ramp.size(); ++n)
        ASSERT_EQ(ramp[n], VirtualSignal::ramp().sampleAt(n, 48000.0)) << n;

    unit.checkDevice();
    ASSERT_EQ(failures.size(), 1u);
    EXPECT_EQ(failures[0].second, AudioInputStream::kReadError);
    EXPECT_EQ(unit.currentDevice(), registry.virtualInputDevice());
    unit.stop();
}

// A sound server killed under a capture: the stream goes on calling back as fast as the CPU
// allows. With read errors nothing after the death passes; without, the pace gives it away
// before the clock has moved at all, and no more than the tolerance passed.
TEST_F(InputUnit, AStreamFasterThanRealTimeAfterItsServerDiedIsCaughtAtOnce) {
    struct Case {
        const char* label;
        bool raceSilently;
        const char* reason;
    };
    for (const Case& c : {Case{"read errors", false, AudioInputStream::kReadError},
                          Case{"silent", true, AudioInputStream::kFasterThanRealTime}}) {
        SCOPED_TRACE(c.label);
        TestClock clock;
        VirtualInputFaults dies;
        dies.failAfterFrames = 48000;
        dies.raceSilently = c.raceSilently;
        const std::uint32_t device = plugFaulty(dies, &clock);
        AudioInputUnit local(registry);
        std::vector<std::string> reasons;
        local.setFailureHandler(
            [&](std::uint32_t, const QString& reason) { reasons.push_back(reason.toStdString()); });
        Capture capture(2);
        local.setProperty(kAudioOutputUnitProperty_CurrentDevice, kAudioUnitScope_Global, 0,
                          &device, sizeof device);
        capture.attach(local);
        ASSERT_EQ(local.initialize(), noErr);
        ASSERT_EQ(local.start(), noErr);

        for (int i = 0; i < 100; ++i) { // one second at its real pace
            pump(device, 480);
            clock.advance(TestClock::kSecond / 100);
        }
        ASSERT_EQ(capture.blocks(), 46u);
        for (int i = 0; i < 1000; ++i) // ten seconds' worth in no time at all
            pump(device, 480);
        const double delivered = double(capture.blocks()) * 1024;
        if (c.raceSilently) {
            // Never further ahead of the clock's one second than the tolerance.
            using koru::platform::StreamPaceWatch;
            EXPECT_GT(delivered, 48000.0);
            EXPECT_LE(delivered, 48000.0 * (1.0 + StreamPaceWatch::kRateMargin +
                                            StreamPaceWatch::kToleranceSeconds));
        } else {
            EXPECT_EQ(capture.blocks(), 46u) << "no frame after the first read error";
        }
        const std::size_t caught = capture.blocks();
        for (int i = 0; i < 100; ++i)
            pump(device, 480);
        EXPECT_EQ(capture.blocks(), caught) << "nothing passes once the stream is caught";

        local.checkDevice();
        ASSERT_EQ(reasons.size(), 1u);
        EXPECT_EQ(reasons[0], c.reason);
        EXPECT_EQ(local.currentDevice(), registry.virtualInputDevice());
        local.stop();
    }
}

TEST_F(InputUnit, UnpluggedDeviceFallsBackAtOnce) {
    Capture capture(2);
    const std::uint32_t device = plug(2);
    startOn(device, capture);
    const std::int32_t map[] = {1, 0};
    unit.setProperty(kAudioOutputUnitProperty_ChannelMap, kAudioUnitScope_Input, 1, map,
                     sizeof map);
    registry.removeDevice(device);
    EXPECT_EQ(unit.currentDevice(), registry.virtualInputDevice());
    EXPECT_TRUE(unit.isRunning());
    std::int32_t readBack[2] = {};
    std::uint32_t size = sizeof readBack;
    unit.getProperty(kAudioOutputUnitProperty_ChannelMap, kAudioUnitScope_Input, 1, readBack,
                     &size);
    EXPECT_EQ(readBack[0], 0) << "the map starts over on a new device";
    EXPECT_EQ(readBack[1], 1);
    EXPECT_FALSE(registry.virtualInput(device)) << "gone from the list";
    unit.stop();
}

// A paced device delivers one period per deadline of its clock, each deadline one period after
// the last: 33 allowed sleeps are 32 whole periods.
TEST_F(InputUnit, APacedVirtualInputDeliversOnePeriodPerDeadlineOfItsClock) {
    TestClock clock;
    const std::int64_t origin = clock.nowNanoseconds();
    VirtualInputConfig config;
    config.name = "Paced";
    config.periodFrames = 480;
    config.channelSignals = {VirtualSignal::sine(1000.0, 0.5f)};
    config.clock = &clock;
    const std::uint32_t device = registry.addVirtualInput(config);
    Capture capture(2);
    startOn(device, capture);
    clock.allowSleeps(33);
    ASSERT_TRUE(clock.waitForSleeps(33));
    EXPECT_EQ(capture.blocks(), 15u); // 32 or 33 periods of 480 frames: 15 whole blocks
    const std::vector<std::int64_t> deadlines = clock.deadlines();
    for (std::size_t k = 0; k < deadlines.size(); ++k)
        ASSERT_EQ(deadlines[k], origin + std::int64_t(k + 1) * 10'000'000) << k;
    const std::vector<float> sine = capture.channel(0);
    const VirtualSignal expected = VirtualSignal::sine(1000.0, 0.5f);
    for (std::size_t n = 0; n < 2048; ++n)
        ASSERT_FLOAT_EQ(sine[n], expected.sampleAt(n, 48000.0));
    clock.close();
    unit.stop();
}

TEST(PacedThread, TicksOnAbsoluteDeadlinesAndPicksUpFromNowAfterAStall) {
    TestClock clock;
    const std::int64_t origin = clock.nowNanoseconds();
    koru::platform::PacedThread thread(clock);
    std::atomic<int> ticks{0};
    thread.start(48000.0, 480, [&] {
        if (++ticks == 3)
            clock.advance(2 * TestClock::kSecond); // the third tick stalls for two seconds
    });
    clock.allowSleeps(6);
    ASSERT_TRUE(clock.waitForSleeps(6));
    const std::vector<std::int64_t> deadlines = clock.deadlines();
    const std::int64_t period = 10'000'000;
    const std::int64_t resumed = origin + 3 * period + 2 * TestClock::kSecond;
    const std::vector<std::int64_t> expected{origin + period,      origin + 2 * period,
                                             origin + 3 * period,  resumed + period,
                                             resumed + 2 * period, resumed + 3 * period};
    EXPECT_EQ(deadlines, expected) << "no burst of the periods missed in the stall";
    clock.close();
    thread.stop();
}

TEST(StreamPaceWatch, TellsADeadStreamFromBurstsDriftAndCatchUp) {
    struct Step {
        std::uint32_t frames;
        double seconds; // the clock moves this much before the delivery
        int times;
    };
    struct Case {
        const char* label;
        std::vector<Step> steps;
        int failsAt; // the delivery caught, or -1
    };
    const double period = 480.0 / 48000.0;
    const Case cases[] = {
        {"real time", {{480, period, 6000}}, -1},
        {"a device clock 4 % fast for ten minutes", {{480, period / 1.04, 60000}}, -1},
        {"a device clock 25 % fast", {{480, period / 1.25, 60000}}, 1869},
        {"two-second bursts", {{96000, 0.0, 1}, {96000, 2.0, 30}}, -1},
        {"a five-second stall and its backlog",
         {{480, period, 100}, {480, 5.0, 1}, {480, 0.0, 499}},
         -1},
        {"a dead server", {{480, period, 100}, {480, 0.0, 1000}}, 403},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        TestClock clock;
        koru::platform::StreamPaceWatch watch(clock, 48000.0);
        int delivery = 0;
        int caught = -1;
        for (const Step& step : c.steps) {
            for (int i = 0; i < step.times && caught < 0; ++i, ++delivery) {
                clock.advance(std::int64_t(step.seconds * 1e9));
                if (!watch.admit(step.frames))
                    caught = delivery;
            }
        }
        EXPECT_EQ(caught, c.failsAt);
    }
}

TEST(StreamStallWatch, CallsAStreamStalledOnlyAfterItsDeliveriesStopForLong) {
    struct Check {
        std::uint64_t deliveries;
        double seconds; // since the first check
    };
    struct Case {
        const char* label;
        std::vector<Check> checks;
        int stalledAt; // the check that calls it stalled, or -1
    };
    using Watch = koru::platform::StreamStallWatch;
    const double limit = Watch::kStallSeconds;
    const Case cases[] = {
        {"delivering", {{0, 0.0}, {5, 0.1}, {9, 0.2}, {14, limit + 1.0}}, -1},
        {"a slow device: two-second periods", {{0, 0.0}, {1, 2.0}, {2, 4.0}, {3, 6.0}}, -1},
        {"stops after delivering", {{0, 0.0}, {7, 0.5}, {7, 0.6}, {7, 0.5 + limit + 0.01}}, 3},
        {"never delivers", {{0, 0.0}, {0, limit}, {0, limit + 0.01}}, 2},
        {"resumes just in time", {{3, 0.0}, {3, limit}, {4, limit + 1.0}, {4, 2 * limit}}, -1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        Watch watch;
        int stalled = -1;
        for (std::size_t i = 0; i < c.checks.size() && stalled < 0; ++i)
            if (watch.stalled(c.checks[i].deliveries, std::int64_t(c.checks[i].seconds * 1e9)))
                stalled = int(i);
        EXPECT_EQ(stalled, c.stalledAt);
    }
    // After a reset the silence counts from the next check.
    Watch watch;
    EXPECT_FALSE(watch.stalled(1, 0));
    watch.reset();
    EXPECT_FALSE(watch.stalled(1, std::int64_t((limit + 1.0) * 1e9)));
}

TEST(OutputUnit, NullOutputPullsWholeBlocksAndAppliesTheVolume) {
    DeviceRegistry registry{AudioBackend::Virtual};
    koru::platform::AudioOutputUnit unit{registry};
    EXPECT_EQ(unit.currentDevice(), registry.nullOutputDevice());
    struct Tone {
        std::atomic<int> blocks{0};
        std::atomic<std::uint32_t> frames{0};
        static OSStatus render(void* refCon, AudioUnitRenderActionFlags*, const AudioTimeStamp*,
                               std::uint32_t, std::uint32_t n, AudioBufferList* data) {
            auto* self = static_cast<Tone*>(refCon);
            for (std::uint32_t c = 0; c < data->mNumberBuffers; ++c)
                std::fill_n(static_cast<float*>(data->mBuffers[c].mData), n, 1.0f);
            self->frames.store(n);
            ++self->blocks;
            return noErr;
        }
    } tone;
    const AURenderCallbackStruct callback{&Tone::render, &tone};
    ASSERT_EQ(unit.setProperty(kAudioUnitProperty_SetRenderCallback, kAudioUnitScope_Input, 0,
                               &callback, sizeof callback),
              noErr);
    ASSERT_EQ(unit.setParameter(kHALOutputParam_Volume, kAudioUnitScope_Global, 0, 0.0f), noErr);
    ASSERT_EQ(unit.initialize(), noErr);
    ASSERT_EQ(unit.start(), noErr);
    EXPECT_TRUE(unit.isRunning());
    ASSERT_TRUE(koru::test::spinUntil([&] { return tone.blocks.load() >= 3; }));
    unit.stop();
    EXPECT_EQ(tone.frames.load(), 1024u);
    float volume = -1;
    unit.getParameter(kHALOutputParam_Volume, kAudioUnitScope_Global, 0, &volume);
    EXPECT_EQ(volume, 0.0f);
}

TEST(NullOutput, PullsOnePeriodPerDeadlineOfItsClock) {
    TestClock clock;
    const std::int64_t origin = clock.nowNanoseconds();
    koru::platform::NullOutputDevice device(QStringLiteral("Clocked"), clock);
    struct Counter : koru::platform::AudioOutputStream::Source {
        std::atomic<int> pulls{0};
        void pull(float* const*, std::uint32_t, std::uint32_t frames) noexcept override {
            if (frames == koru::platform::NullOutputDevice::kPeriodFrames)
                ++pulls;
        }
    } counter;
    auto stream = device.openStream(2, counter);
    stream->start();
    clock.allowSleeps(11);
    ASSERT_TRUE(clock.waitForSleeps(11));
    EXPECT_GE(counter.pulls.load(), 10);
    const std::vector<std::int64_t> deadlines = clock.deadlines();
    for (std::size_t k = 0; k < deadlines.size(); ++k)
        ASSERT_EQ(deadlines[k], origin + std::int64_t(double(k + 1) * (1e9 * 512 / 48000.0))) << k;
    clock.close();
    stream->stop();
}

// An output's error is the output's: the input beside it captures on, untouched.
TEST_F(InputUnit, AnOutputThatRefusesToStartLeavesTheInputAlone) {
    Capture capture(2);
    const std::uint32_t input = plug(2);
    recordFailures();
    startOn(input, capture);
    pump(input, 1024);

    const std::uint32_t speakers = registry.addNullOutput(QStringLiteral("Busy Speakers"));
    registry.nullOutput(speakers)->setRefuseStart(kAudioHardwareIllegalOperationError);
    koru::platform::AudioOutputUnit output{registry};
    ASSERT_EQ(output.setProperty(kAudioOutputUnitProperty_CurrentDevice, kAudioUnitScope_Global, 0,
                                 &speakers, sizeof speakers),
              noErr);
    ASSERT_EQ(output.initialize(), noErr);
    EXPECT_EQ(output.start(), kAudioHardwareIllegalOperationError);
    EXPECT_FALSE(output.isRunning());
    EXPECT_TRUE(mentions(output.failureReason(), "Busy Speakers")) << output.failureReason();
    output.stop();
    registry.removeDevice(speakers);

    pump(input, 1024);
    unit.checkDevice();
    EXPECT_EQ(capture.blocks(), 2u);
    EXPECT_TRUE(failures.empty());
    EXPECT_EQ(unit.currentDevice(), input);
    EXPECT_TRUE(unit.isRunning());
    unit.stop();
}

namespace {

// A delayed signal is silent for its delay and then the undelayed signal, sample for sample,
// whether read one by one or a block at a time.
TEST(VirtualSignalDelay, IsSilentForItsDelayThenTheSignalShifted) {
    struct Case {
        const char* name;
        VirtualSignal signal;
    };
    for (const Case& c :
         {Case{"noise", VirtualSignal::noise(0.5f, 7)},
          Case{"constant", VirtualSignal::constant(0.25f)}, Case{"ramp", VirtualSignal::ramp()}}) {
        SCOPED_TRACE(c.name);
        constexpr std::uint64_t kDelay = 37;
        const VirtualSignal delayed = c.signal.delayedBy(kDelay);
        std::vector<float> block(100);
        delayed.fill(block.data(), 0, 100, 48000.0);
        for (std::uint64_t n = 0; n < 100; ++n) {
            const float expected = n < kDelay ? 0.0f : c.signal.sampleAt(n - kDelay, 48000.0);
            ASSERT_EQ(delayed.sampleAt(n, 48000.0), expected) << n;
            ASSERT_EQ(block[n], expected) << n;
        }
        EXPECT_EQ(delayed.sampleAt(1'000'037, 48000.0), c.signal.sampleAt(1'000'000, 48000.0));
    }
}

} // namespace
