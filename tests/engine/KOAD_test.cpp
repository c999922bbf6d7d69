#include "EngineTestSupport.h"
#include "engine/KOAD.h"
#include "engine/KOAuxGenerator.h"

#include "platform/audio/DeviceRegistry.h"
#include "platform/fourcc/FourCC.h"
#include "platform/log/Log.h"
#include "support/TestSupport.h"
#include "zotools/CAException.h"
#include "zotools/ZOInputClientException.h"

#include <gtest/gtest.h>
#include <spdlog/sinks/ringbuffer_sink.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <functional>
#include <memory>
#include <thread>
#include <vector>

using koru::platform::DeviceRegistry;
using koru::platform::VirtualInputConfig;
using koru::platform::VirtualSignal;

namespace {

// Keeps a copy of the newest buffer and everything the engine told it.
class Recorder : public ZOInputClient {
public:
    struct Change {
        std::uint32_t position;
        std::int32_t delta;
        bool operator==(const Change&) const = default;
    };

    void Process(const AudioBufferList* buffers, std::uint32_t frames) override {
        frameCounts.push_back(frames);
        last.resize(buffers->mNumberBuffers);
        for (std::uint32_t c = 0; c < buffers->mNumberBuffers; ++c) {
            const auto* data = static_cast<const float*>(buffers->mBuffers[c].mData);
            last[c].assign(data, data + frames);
        }
    }
    void SetNumberOfChannels(std::uint32_t count) override { m_numberOfChannels.store(count); }
    void ChannelsChanged(std::uint32_t position, std::uint32_t delta) override {
        changes.push_back({position, std::int32_t(delta)});
        channelsWhenTold.push_back(NumberOfChannels());
    }

    std::vector<std::uint32_t> channelsWhenTold;
    std::vector<std::vector<float>> last;
    std::vector<std::uint32_t> frameCounts;
    std::vector<Change> changes;
};

class FailingClient : public ZOInputClient {
public:
    void Process(const AudioBufferList*, std::uint32_t) override {
        throw ZOInputClientException(77);
    }
    void SetNumberOfChannels(std::uint32_t) override {}
    void ChannelsChanged(std::uint32_t, std::uint32_t) override { throw std::runtime_error("no"); }
};

// One constant per channel.
class FakeAux : public KOAuxInput {
public:
    FakeAux(std::vector<float> values, QString name)
        : mValues(std::move(values)), mName(std::move(name)) {}
    std::uint32_t NumberOfChannels() const override { return std::uint32_t(mValues.size()); }
    void Start() override { ++starts; }
    void Render(AudioBufferList* buffers, std::uint32_t first, std::uint32_t frames) override {
        for (std::uint32_t c = 0; c < mValues.size(); ++c) {
            if (first + c >= buffers->mNumberBuffers) {
                return;
            }
            auto* data = static_cast<float*>(buffers->mBuffers[first + c].mData);
            std::fill(data, data + frames, mValues[c]);
        }
    }
    QString Name(int channel) const override {
        return QStringLiteral("%1 %2").arg(mName).arg(channel);
    }
    void SetEngineSampleRate(double rate) override { rates.push_back(rate); }

    int starts = 0;
    std::vector<double> rates;

private:
    std::vector<float> mValues;
    QString mName;
};

class FakeOwner : public KOADOwner {
public:
    void inPropertyListener() override { ++reloads; }
    void errorHandling(std::uint64_t code) override { errors.push_back(code); }
    int reloads = 0;
    std::vector<std::uint64_t> errors;
};

std::atomic<int> gHookCalls{0};
void countHookCall() {
    ++gHookCalls;
}

std::unique_ptr<KOAuxSummingChannel> pair(std::uint32_t a, std::uint32_t b) {
    auto summing = std::make_unique<KOAuxSummingChannel>();
    summing->setChannelA(a);
    summing->setChannelB(b);
    return summing;
}

class EngineTest : public ::testing::Test {
protected:
    void start(std::vector<VirtualSignal> channelSignals, double rate = 48000.0) {
        VirtualInputConfig config;
        config.name = QStringLiteral("Engine Test");
        config.channels = std::uint32_t(channelSignals.size());
        config.sampleRate = rate;
        config.channelSignals = std::move(channelSignals);
        config.manual = true;
        mDevice = registry.addVirtualInput(config);
        engine = std::make_unique<KOAD>(mDevice, 1024);
        engine->SetOwner(&owner);
        engine->AddClient(&recorder);
        engine->Start();
    }
    void pump(std::uint32_t frames = 1024, int times = 1) {
        for (int i = 0; i < times; ++i) {
            ASSERT_TRUE(registry.virtualInput(mDevice)->pump(frames));
        }
    }
    // A virtual device plays a new signal from its next stream on.
    void setSignal(std::uint32_t channel, VirtualSignal signal) {
        registry.virtualInput(mDevice)->setSignal(channel, signal);
        engine->Stop();
        engine->Start();
    }
    void TearDown() override {
        engine.reset();
        if (mDevice != 0) {
            registry.removeDevice(mDevice);
        }
    }

    DeviceRegistry& registry = DeviceRegistry::shared();
    Recorder recorder;
    FakeOwner owner;
    std::unique_ptr<KOAD> engine;
    std::uint32_t mDevice = 0;
};

float decibels(double linear) {
    return float(20.0 * std::log10(linear));
}

} // namespace

TEST(KOADConstants, FollowTheRate) {
    struct Case {
        double rate;
        float peakDecay;
        float rmsFactor;
        std::uint32_t capacity;
        std::uint32_t window;
    };
    const Case cases[] = {
        {44100.0, 0.96910f, 0.94794f, 7639, 6615},
        {48000.0, 0.97158f, 0.95207f, 8224, 7200},
        {96000.0, 0.98569f, 0.97574f, 15424, 14400},
        {0.0, 0.96910f, 0.94794f, 7639, 6615}, // a device that reports no rate
        {7999.0, 0.96910f, 0.94794f, 7639, 6615},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.rate);
        const auto constants = KOAD::ComputeMeterConstants(c.rate, 1024);
        EXPECT_NEAR(constants.peakDecay, c.peakDecay, 1e-5);
        EXPECT_NEAR(constants.rmsFactor, c.rmsFactor, 1e-5);
        EXPECT_EQ(constants.capacity, c.capacity);
        EXPECT_EQ(constants.rmsWindow, c.window);
    }
}

TEST(KOADConstants, DecibelsNeverFallBelowTheFloor) {
    const float nan = std::nanf("");
    const float cases[][2] = {{1.0f, 0.0f},     {0.5f, -6.0206f},   {0.0f, -144.0f},
                              {-0.0f, -144.0f}, {1e-9f, -144.0f},   {nan, -144.0f},
                              {-1.0f, -144.0f}, {INFINITY, -144.0f}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c[0]);
        EXPECT_NEAR(KOAD::ToDecibels(c[0]), c[1], 1e-4);
    }
}

TEST_F(EngineTest, LaysOutHardwareThenAuxiliaryThenSummingChannels) {
    start({VirtualSignal::constant(0.5f), VirtualSignal::constant(-0.25f)});
    FakeAux aux({0.125f, 0.75f}, QStringLiteral("Fake"));
    ASSERT_TRUE(engine->AddAuxInput(&aux));
    ASSERT_TRUE(engine->AddSummingChannel(pair(0, 3)));
    ASSERT_TRUE(engine->AddSummingChannel(pair(1, 4))); // the first pair's sum
    EXPECT_EQ(engine->TotalNumberOfChannels(), 8u);
    EXPECT_EQ(engine->NumberOfNativeAndAuxChannels(), 4u);
    EXPECT_EQ(engine->NumberOfSummingChannels(), 4u);
    EXPECT_EQ(recorder.NumberOfChannels(), 8u);
    EXPECT_EQ(aux.starts, 1);
    // Summing sources are clamped to hardware and auxiliary channels.
    EXPECT_EQ(engine->SummingChannelAt(1)->channelB(), 3u);
    EXPECT_EQ(engine->SummingChannelAt(2), nullptr);

    pump();
    ASSERT_EQ(recorder.last.size(), 8u);
    const float expected[] = {0.5f,
                              -0.25f,
                              0.125f,
                              0.75f,
                              0.5f * (0.5f + 0.75f),
                              0.5f * (0.5f - 0.75f),
                              0.5f * (-0.25f + 0.75f),
                              0.5f * (-0.25f - 0.75f)};
    for (std::uint32_t c = 0; c < 8; ++c) {
        EXPECT_EQ(recorder.last[c], std::vector<float>(1024, expected[c])) << "channel " << c;
    }
}

TEST_F(EngineTest, LevelsStartAtTheFloorAndSlotsWrapAt256) {
    start({VirtualSignal::constant(0.5f), VirtualSignal::silence()});
    for (std::uint32_t c = 0; c < 300; ++c) {
        const auto levels = engine->GetLevels(c);
        ASSERT_EQ(levels.rms, -144.0f) << c;
        ASSERT_EQ(levels.peak, -144.0f) << c;
    }
    // 22 pairs copying channel 0: channel 44 is a sum of 0.5 and 0.5.
    std::vector<std::unique_ptr<KOAuxSummingChannel>> pairs;
    for (int i = 0; i < 22; ++i) {
        pairs.push_back(pair(0, 0));
    }
    ASSERT_TRUE(engine->AddSummingChannels(std::move(pairs)));
    pump();
    EXPECT_NEAR(engine->GetLevels(44).peak, decibels(0.5), 1e-4);
    EXPECT_EQ(engine->GetLevels(300).peak, engine->GetLevels(44).peak);
    EXPECT_EQ(engine->GetLevels(45).peak, -144.0f); // its difference channel
}

// Peak = largest magnitude, read without a second decay: full scale on either half-wave is 0 dB.
TEST_F(EngineTest, FullScaleReadsZeroDecibelsPeakOnEitherHalfWave) {
    start({VirtualSignal::constant(1.0f), VirtualSignal::constant(-1.0f),
           VirtualSignal::constant(-0.5f)});
    pump();
    EXPECT_EQ(engine->GetLevels(0).peak, 0.0f);
    EXPECT_EQ(engine->GetLevels(1).peak, 0.0f);
    EXPECT_NEAR(engine->GetLevels(2).peak, decibels(0.5), 1e-4);
}

TEST_F(EngineTest, AHeldPeakDecaysOncePerBuffer) {
    start({VirtualSignal::constant(1.0f)});
    pump();
    setSignal(0, VirtualSignal::silence());
    const double decay = engine->Constants().peakDecay;
    for (int buffers = 1; buffers <= 10; ++buffers) {
        pump();
        EXPECT_NEAR(engine->GetLevels(0).peak, decibels(std::pow(decay, buffers)), 1e-3) << buffers;
    }
    // About 11.74 dB per second.
    EXPECT_NEAR(engine->GetLevels(0).peak, -11.74 * 10 * 1024 / 48000.0, 1e-2);
}

TEST_F(EngineTest, RMSIsTakenOverAWindowPaddedWithZerosUntilItFills) {
    start({VirtualSignal::constant(0.5f)});
    const double factor = engine->Constants().rmsFactor;
    pump();
    EXPECT_NEAR(engine->GetLevels(0).rms, decibels(0.5 * std::sqrt(1024.0 / 7200.0) * factor),
                1e-3);
    pump(1024, 7); // 8192 frames: the 7200-frame window is full
    EXPECT_NEAR(engine->GetLevels(0).rms, decibels(0.5 * factor), 1e-3);
}

TEST_F(EngineTest, AFullScaleSineReadsTheConventionalRMSAt44100) {
    start({VirtualSignal::sine(1000.0, 1.0f)}, 44100.0);
    pump(1024, 8);
    EXPECT_NEAR(engine->GetLevels(0).rms, -3.47f, 0.02f);
}

TEST_F(EngineTest, SilenceSettlesOnTheFloorNeverOnInfinity) {
    start({VirtualSignal::constant(1.0f), VirtualSignal::silence()});
    pump();
    setSignal(0, VirtualSignal::silence());
    pump(1024, 700); // 700 × 0.25 dB: far below the floor
    for (std::uint32_t c = 0; c < 2; ++c) {
        const auto levels = engine->GetLevels(c);
        EXPECT_EQ(levels.rms, -144.0f) << c;
        EXPECT_EQ(levels.peak, -144.0f) << c;
    }
}

TEST_F(EngineTest, ClientsGetExactly1024FrameBuffersWhateverTheDevicePeriod) {
    start({VirtualSignal::ramp()});
    for (std::uint32_t period : {480u, 1000u, 64u, 4096u}) {
        pump(period, 10);
    }
    EXPECT_EQ(recorder.frameCounts.size(), (10u * (480 + 1000 + 64 + 4096)) / 1024);
    for (std::uint32_t frames : recorder.frameCounts) {
        ASSERT_EQ(frames, 1024u);
    }
}

TEST_F(EngineTest, EveryListEditThrowsInSafeModeAndChangesNothing) {
    start({VirtualSignal::silence(), VirtualSignal::silence()});
    FakeAux attached({0.1f}, QStringLiteral("A"));
    FakeAux other({0.2f}, QStringLiteral("B"));
    ASSERT_TRUE(engine->AddAuxInput(&attached));
    ASSERT_TRUE(engine->AddSummingChannel(pair(0, 1)));
    engine->EnterSafeMode();
    engine->EnterSafeMode();
    engine->LeaveSafeMode(); // two recorders attached, one left
    ASSERT_TRUE(engine->InSafeMode());

    const std::vector<std::pair<const char*, std::function<void()>>> edits = {
        {"AddAuxInput", [&] { engine->AddAuxInput(&other); }},
        {"RemoveAuxInput", [&] { engine->RemoveAuxInput(&attached); }},
        {"AddSummingChannel", [&] { engine->AddSummingChannel(pair(0, 0)); }},
        {"AddSummingChannels",
         [&] {
             std::vector<std::unique_ptr<KOAuxSummingChannel>> list;
             list.push_back(pair(0, 0));
             engine->AddSummingChannels(std::move(list));
         }},
        {"RemoveSummingChannel", [&] { engine->RemoveSummingChannel(0); }},
        {"RemoveAllSummingChannels", [&] { engine->RemoveAllSummingChannels(); }},
    };
    const int reloads = owner.reloads;
    for (const auto& [name, edit] : edits) {
        SCOPED_TRACE(name);
        try {
            edit();
            ADD_FAILURE() << "no exception";
        } catch (const CAException& failure) {
            EXPECT_EQ(failure.GetError(), OSStatus(koru::platform::fourCC("sfmd")));
        }
        EXPECT_EQ(engine->TotalNumberOfChannels(), 5u);
        EXPECT_EQ(engine->NumberOfSummingChannels(), 2u);
    }
    EXPECT_EQ(owner.reloads, reloads);
    EXPECT_EQ(other.starts, 0);

    engine->LeaveSafeMode();
    engine->LeaveSafeMode(); // one too many: stays at zero
    EXPECT_FALSE(engine->InSafeMode());
    engine->RemoveSummingChannel(0);
    EXPECT_EQ(engine->TotalNumberOfChannels(), 3u);
}

TEST_F(EngineTest, RefusesChannelsBeyond256) {
    start({VirtualSignal::constant(0.5f), VirtualSignal::silence()});
    std::vector<std::unique_ptr<KOAuxSummingChannel>> pairs;
    for (int i = 0; i < 127; ++i) {
        pairs.push_back(pair(0, 1));
    }
    ASSERT_TRUE(engine->AddSummingChannels(std::move(pairs)));
    EXPECT_EQ(engine->TotalNumberOfChannels(), 256u);

    FakeAux aux({0.25f}, QStringLiteral("One more"));
    EXPECT_FALSE(engine->AddSummingChannel(pair(0, 1)));
    EXPECT_FALSE(engine->AddAuxInput(&aux));
    EXPECT_EQ(aux.starts, 0);
    EXPECT_EQ(engine->TotalNumberOfChannels(), 256u);
    pump();
    ASSERT_EQ(recorder.last.size(), 256u);
    EXPECT_NEAR(engine->GetLevels(255).peak, decibels(0.25), 1e-4);

    engine->RemoveSummingChannel(126);
    EXPECT_TRUE(engine->AddAuxInput(&aux));
    engine->RemoveAuxInput(&aux);
}

TEST_F(EngineTest, ClientsHearWhereChannelsWereInsertedAndRemoved) {
    start({VirtualSignal::silence(), VirtualSignal::silence()});
    FakeAux first({0.1f, 0.2f}, QStringLiteral("First"));
    FakeAux second({0.3f, 0.4f, 0.5f}, QStringLiteral("Second"));
    FailingClient stubborn; // throws from ChannelsChanged: swallowed
    engine->AddClient(&stubborn);
    engine->AddAuxInput(&first);
    engine->AddAuxInput(&second); // after the first input's channels, where it renders
    engine->AddSummingChannel(pair(0, 1));
    engine->RemoveSummingChannel(0); // summing channels come last: nobody moves
    engine->RemoveSummingChannel(5); // no such pair: nothing
    engine->RemoveAuxInput(&first);
    engine->RemoveAuxInput(&first); // not attached: nothing
    const std::vector<Recorder::Change> expected = {{2, 2}, {4, 3}, {2, -2}};
    EXPECT_EQ(recorder.changes, expected);
    EXPECT_EQ(recorder.NumberOfChannels(), 5u);
    engine->RemoveClient(&stubborn);

    pump();
    EXPECT_EQ(recorder.last[2], std::vector<float>(1024, 0.3f));
    EXPECT_EQ(recorder.last[4], std::vector<float>(1024, 0.5f));
}

// Lost channels are announced while the clients still count them, new ones once they exist.
TEST_F(EngineTest, ADeviceSwitchMovesTheAddedChannelsBehindTheNewHardware) {
    start({VirtualSignal::constant(0.5f), VirtualSignal::silence()});
    FakeAux aux({0.75f}, QStringLiteral("Aux"));
    engine->AddAuxInput(&aux);
    recorder.changes.clear();
    recorder.channelsWhenTold.clear();

    VirtualInputConfig wide;
    wide.name = QStringLiteral("Wide");
    wide.channels = 4;
    wide.manual = true;
    const std::uint32_t wideDevice = registry.addVirtualInput(wide);
    const std::uint32_t narrowDevice = mDevice;
    engine->SetCurrentDevice(wideDevice);
    mDevice = wideDevice;
    engine->SetCurrentDevice(narrowDevice);
    mDevice = narrowDevice;
    const std::vector<Recorder::Change> expected = {{2, 2}, {2, -2}};
    EXPECT_EQ(recorder.changes, expected);
    EXPECT_EQ(recorder.channelsWhenTold, (std::vector<std::uint32_t>{5, 5}));
    EXPECT_EQ(recorder.NumberOfChannels(), 3u);
    pump();
    EXPECT_EQ(recorder.last[2], std::vector<float>(1024, 0.75f));
    registry.removeDevice(wideDevice);
}

TEST_F(EngineTest, NamesEveryChannel) {
    start({VirtualSignal::silence(), VirtualSignal::silence()});
    FakeAux aux({0.1f, 0.2f}, QStringLiteral("Player"));
    engine->AddAuxInput(&aux);
    engine->AddSummingChannel(pair(1, 2));
    const char* expected[] = {"Engine Test 1",
                              "Engine Test 2",
                              "Player 0",
                              "Player 1",
                              "Engine Test 2 + Player 0",
                              "Engine Test 2 - Player 0",
                              "-"};
    for (std::uint32_t c = 0; c < std::size(expected); ++c) {
        EXPECT_EQ(engine->ChannelName(c), QString::fromUtf8(expected[c])) << c;
    }
    // The summing name follows the input patch; an unpatched source reads "-".
    const std::int32_t map[] = {1, -1};
    engine->SetChannelMap(map, 2);
    EXPECT_EQ(engine->ChannelName(4), QStringLiteral("- + Player 0"));
}

TEST_F(EngineTest, TellsAuxiliaryInputsTheEngineRateOnEveryReconfiguration) {
    start({VirtualSignal::silence()});
    FakeAux aux({0.1f, 0.2f}, QStringLiteral("Aux"));
    engine->AddAuxInput(&aux);
    ASSERT_FALSE(aux.rates.empty());
    EXPECT_EQ(aux.rates.back(), 48000.0);
    const int reloads = owner.reloads;

    ASSERT_EQ(registry.setNominalSampleRate(mDevice, 44100.0), noErr);
    EXPECT_EQ(aux.rates.back(), 44100.0);
    EXPECT_EQ(engine->Constants().capacity, 7639u);
    EXPECT_GT(owner.reloads, reloads);
    pump();
    EXPECT_EQ(recorder.last[1], std::vector<float>(1024, 0.1f));
}

TEST_F(EngineTest, ReportsAFailingClientOnceUntilHandled) {
    start({VirtualSignal::silence()});
    FailingClient failing;
    engine->AddClient(&failing);
    pump(1024, 5);
    EXPECT_EQ(owner.errors, std::vector<std::uint64_t>{77});
    EXPECT_EQ(recorder.frameCounts.size(), 5u); // the others still run
    engine->ErrorHandled();
    pump();
    EXPECT_EQ(owner.errors.size(), 2u);
    engine->RemoveClient(&failing);
}

TEST_F(EngineTest, CallsTheDataReadyHookAfterEveryBuffer) {
    start({VirtualSignal::silence()});
    gHookCalls = 0;
    engine->SetDataReadyHook(&countHookCall);
    pump(1024, 3);
    EXPECT_EQ(gHookCalls.load(), 3);
    engine->SetDataReadyHook(nullptr);
    pump();
    EXPECT_EQ(gHookCalls.load(), 3);
}

// A generator's tone reaches the pumped engine at the engine's rate although its output started
// at another rate. The test plays the speakers, so every buffer is accounted for.
TEST_F(EngineTest, AGeneratorFeedsItsToneAtTheEngineRate) {
    start({VirtualSignal::silence()});
    auto output = std::make_unique<koru::test::ManualOutput>(44100.0, true);
    koru::test::ManualOutput& speakers = *output;
    auto generator = std::make_unique<koru::test::TestGenerator>(
        std::make_unique<koru::test::SineSource>(1000.0), std::move(output));
    ASSERT_TRUE(engine->AddAuxInput(generator.get()));
    EXPECT_EQ(generator->SampleRate(), 48000.0);
    EXPECT_FALSE(generator->IsConverting()) << "the speakers followed the engine's rate";

    for (int i = 0; i < 8; ++i) {
        speakers.pull();
        pump();
        ASSERT_EQ(generator->ReadPosition(), 1024 * (i + 1));
        EXPECT_NEAR(koru::test::frequencyOf(recorder.last[1], 48000.0), 1000.0, 15.0) << i;
    }
    EXPECT_EQ(generator->StarvedBuffers(), 0u);
    engine->RemoveAuxInput(generator.get());
    generator.reset();
    pump(); // nothing left rendering into the engine
}

// One stream's error is its own: a generator whose speakers refuse to start is not attached, the
// layout and the clients' channels stay as they were, and the input captures on.
TEST_F(EngineTest, AGeneratorWhoseOutputWillNotStartIsNotAttachedAndTheInputRunsOn) {
    start({VirtualSignal::constant(0.5f)});
    auto output = std::make_unique<koru::test::ManualOutput>(48000.0, true);
    output->refuseStart(kAudioHardwareIllegalOperationError, "\"Busy Speakers\" is in use");
    koru::test::TestGenerator generator(std::make_unique<koru::test::SineSource>(1000.0),
                                        std::move(output));
    const int reloads = owner.reloads;
    recorder.changes.clear();
    try {
        engine->AddAuxInput(&generator);
        FAIL() << "attached a generator that did not start";
    } catch (const KOAuxInputException& failure) {
        EXPECT_NE(std::string(failure.what()).find("\"Busy Speakers\" is in use"),
                  std::string::npos)
            << failure.what();
    }
    EXPECT_EQ(engine->TotalNumberOfChannels(), 1u);
    EXPECT_EQ(engine->NumberOfAuxChannels(), 0u);
    EXPECT_EQ(recorder.NumberOfChannels(), 1u);
    EXPECT_TRUE(recorder.changes.empty());
    EXPECT_EQ(owner.reloads, reloads);
    EXPECT_TRUE(engine->IsRunning());
    pump();
    ASSERT_EQ(recorder.last.size(), 1u);
    EXPECT_EQ(recorder.last[0], std::vector<float>(1024, 0.5f));
    engine->RemoveAuxInput(&generator); // never attached: nothing happens
    EXPECT_EQ(engine->TotalNumberOfChannels(), 1u);
}

// A generator that cannot restart for a new rate stops alone: the engine reconfigures, the input
// runs on, and the generator's channels read silence, counted, never its last buffer again.
TEST_F(EngineTest, AGeneratorThatCannotFollowARateChangeFailsAlone) {
    start({VirtualSignal::constant(0.5f)});
    auto output = std::make_unique<koru::test::ManualOutput>(48000.0, true);
    koru::test::ManualOutput& speakers = *output;
    koru::test::TestGenerator generator(std::make_unique<koru::test::SineSource>(1000.0),
                                        std::move(output));
    ASSERT_TRUE(engine->AddAuxInput(&generator));
    speakers.pull();
    pump();
    ASSERT_EQ(generator.StarvedBuffers(), 0u);

    speakers.refuseStart(kAudioHardwareIllegalOperationError, "unplugged");
    ASSERT_EQ(registry.setNominalSampleRate(mDevice, 44100.0), noErr);
    EXPECT_TRUE(engine->IsRunning());
    EXPECT_EQ(engine->TotalNumberOfChannels(), 3u);
    EXPECT_FALSE(generator.OutputRunning());
    speakers.pull();
    pump();
    EXPECT_EQ(recorder.last[0], std::vector<float>(1024, 0.5f));
    EXPECT_EQ(recorder.last[1], std::vector<float>(1024, 0.0f));
    EXPECT_EQ(generator.StarvedBuffers(), 1u);
    engine->RemoveAuxInput(&generator);
}

// Passes skipped while an edit holds the engine are logged from the main thread, in one line
// for the lot, never from the audio thread.
TEST_F(EngineTest, SkippedBlocksAreLoggedOnceFromTheMainThread) {
    start({VirtualSignal::silence()});
    auto sink = std::make_shared<spdlog::sinks::ringbuffer_sink_mt>(16);
    koru::log::logger().sinks().push_back(sink);
    {
        std::lock_guard edit(engine->EngineMutex());
        std::thread audio([this] { registry.virtualInput(mDevice)->pump(3 * 1024); });
        audio.join();
    }
    EXPECT_EQ(engine->SkippedBlocks(), 3u);
    const auto skipLines = [&] {
        int lines = 0;
        for (const std::string& line : sink->last_formatted()) {
            lines += line.find("skipped 3 blocks") != std::string::npos ? 1 : 0;
        }
        return lines;
    };
    EXPECT_EQ(skipLines(), 0) << "nothing logged on the audio thread";
    EXPECT_TRUE(koru::test::spinUntil([&] { return skipLines() == 1; }));
    EXPECT_EQ(engine->ReportSkippedBlocks(), 0u) << "reported once";
    pump();
    EXPECT_EQ(recorder.SkippedBlocks(), 3u);
    auto& sinks = koru::log::logger().sinks();
    sinks.erase(std::find(sinks.begin(), sinks.end(), sink));
}
