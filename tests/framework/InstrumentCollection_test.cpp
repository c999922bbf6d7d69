#include "InstrumentTestSupport.h"

#include "engine/KOAD.h"
#include "engine/KOAudioDevice.h"
#include "engine/KODataCollectorThread.h"
#include "engine/KOOneChannelInstrument.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <atomic>

using koru::test::RecordingDelegate;
using koru::test::TestInstrumentController;

namespace {

// An unpaused client that counts the engine's audio passes.
class AudioPassCounter : public KOOneChannelInstrument {
public:
    void Process(const AudioBufferList*, std::uint32_t) override { ++passes; }
    std::atomic<std::uint64_t> passes{0};
};

// The test instrument on the process's audio device (the virtual input): frames counted on the
// audio thread reach its model on the collector thread, and pausing stops them.
class InstrumentCollectionTest : public ::testing::Test {
protected:
    void SetUp() override {
        controller = KOInstrumentController::create<TestInstrumentController>("test", nullptr);
        controller->setDelegate(&delegate);
        controller->setName("Test Instrument");
        audio().addInputClient(&controller->processing);
        audio().addInputClient(&audioPasses);
        controller->addToDataCollectorThread();
        audio().start();
    }
    void TearDown() override {
        if (KOAD* engine = audio().getKOAD()) {
            engine->RemoveClient(&controller->processing);
            engine->RemoveClient(&audioPasses);
        }
        audio().stop();
    }
    static KOAudioDevice& audio() { return KOAudioDevice::sharedAudioDevice(); }

    // Waits for two audio passes and then two collector passes: whatever an audio pass under way
    // counted has then been collected.
    bool settle() {
        const auto audioStart = audioPasses.passes.load();
        if (!koru::test::spinUntil([&] { return audioPasses.passes >= audioStart + 2; }))
            return false;
        auto& collector = KODataCollectorThread::sharedCollectorThread();
        const auto collectorStart = collector.passCount();
        return koru::test::spinUntil([&] { return collector.passCount() >= collectorStart + 2; });
    }

    AudioPassCounter audioPasses;
    RecordingDelegate delegate;
    std::unique_ptr<TestInstrumentController> controller;
};

TEST_F(InstrumentCollectionTest, ResultsReachTheModelOnTheCollectorThreadUntilPaused) {
    ASSERT_NE(audio().getKOAD(), nullptr);
    auto& model = *controller->model;
    ASSERT_TRUE(koru::test::spinUntil([&] { return model.collectedFrames.load() >= 4096; }));
    EXPECT_TRUE(model.collectedOffMainThread.load());
    EXPECT_EQ(controller->collectorRate.load(), delegate.sampleRate.load());

    controller->setPause(true);
    EXPECT_TRUE(model.pause());
    // Let a pass that was under way finish, then nothing more may arrive.
    ASSERT_TRUE(settle());
    const auto frozen = model.collectedFrames.load();
    ASSERT_TRUE(settle());
    EXPECT_EQ(model.collectedFrames.load(), frozen);

    controller->setPause(false);
    EXPECT_TRUE(koru::test::spinUntil([&] { return model.collectedFrames.load() > frozen; }));
}

TEST_F(InstrumentCollectionTest, HiddenInstrumentsKeepCollecting) {
    controller->hideInstrument();
    auto& model = *controller->model;
    const auto start = model.collectedFrames.load();
    EXPECT_TRUE(koru::test::spinUntil([&] { return model.collectedFrames.load() > start; }));
}

} // namespace
