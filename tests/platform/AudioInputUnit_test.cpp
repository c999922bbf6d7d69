#include "platform/audio/AudioInputUnit.h"
#include "platform/audio/AudioOutputUnit.h"
#include "platform/audio/DeviceRegistry.h"

#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <chrono>
#include <mutex>

using koru::platform::AudioBackend;
using koru::platform::AudioInputUnit;
using koru::platform::DeviceRegistry;
using koru::platform::VirtualInputConfig;
using koru::platform::VirtualSignal;

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
};

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

TEST_F(InputUnit, FailedDeviceIsReportedOnceSilencedAndReplacedByTheVirtualInput) {
    Capture capture(2);
    const std::uint32_t device = plug(2);
    std::vector<std::uint32_t> failures;
    unit.setFailureHandler([&](std::uint32_t id, const QString&) { failures.push_back(id); });
    int switches = 0;
    unit.addPropertyListener(
        kAudioOutputUnitProperty_CurrentDevice,
        [&](AudioUnitPropertyID, AudioUnitScope, AudioUnitElement) { ++switches; });
    startOn(device, capture);
    switches = 0;
    pump(device, 1024);
    registry.virtualInput(device)->failStreams();
    pump(device, 1024);
    ASSERT_EQ(capture.blocks(), 2u);
    const std::vector<float> ramp = capture.channel(0);
    EXPECT_NE(ramp[1023], 0.0f);
    for (std::size_t n = 1024; n < 2048; ++n)
        ASSERT_EQ(ramp[n], 0.0f) << "stale audio after the failure";
    EXPECT_EQ(capture.statuses()[1], kAudioHardwareNotRunningError);

    unit.checkDevice();
    unit.checkDevice();
    EXPECT_EQ(failures, std::vector<std::uint32_t>{device});
    EXPECT_EQ(switches, 1);
    EXPECT_EQ(unit.currentDevice(), registry.virtualInputDevice());
    EXPECT_TRUE(unit.isRunning());
    // The virtual input keeps real time on its own thread.
    EXPECT_TRUE(koru::test::spinUntil([&] { return capture.blocks() >= 6; }, 3000));
    unit.stop();
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

TEST_F(InputUnit, VirtualInputKeepsRealTimePace) {
    Capture capture(2);
    startOn(registry.virtualInputDevice(), capture);
    const auto begin = std::chrono::steady_clock::now();
    ASSERT_TRUE(koru::test::spinUntil([&] { return capture.blocks() >= 24; }, 5000));
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
    unit.stop();
    // 24 blocks of 1024 frames at 48 kHz take 0.512 s.
    EXPECT_GT(seconds, 0.40);
    EXPECT_LT(seconds, 3.0);
    const std::vector<float> sine = capture.channel(0);
    const VirtualSignal expected = VirtualSignal::sine(1000.0, 0.5f);
    for (std::size_t n = 0; n < 2048; ++n)
        ASSERT_FLOAT_EQ(sine[n], expected.sampleAt(n, 48000.0));
}

TEST(OutputUnit, NullOutputPullsWholeBlocksAtPaceAndAppliesTheVolume) {
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
    const auto begin = std::chrono::steady_clock::now();
    ASSERT_TRUE(koru::test::spinUntil([&] { return tone.blocks.load() >= 10; }, 3000));
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
    unit.stop();
    EXPECT_EQ(tone.frames.load(), 1024u);
    EXPECT_GT(seconds, 0.15); // ten blocks at 48 kHz: about 0.2 s
    float volume = -1;
    unit.getParameter(kHALOutputParam_Volume, kAudioUnitScope_Global, 0, &volume);
    EXPECT_EQ(volume, 0.0f);
}
