#include "InstrumentTestSupport.h"

#include "engine/KOAD.h"
#include "engine/KOAudioDevice.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

using koru::test::RecordingDelegate;
using koru::test::TestInstrumentController;

namespace {

// The test instrument on the process's audio device (the virtual input): frames counted on the
// audio thread reach its model on the collector thread, and pausing stops them.
class InstrumentCollectionTest : public ::testing::Test {
protected:
    void SetUp() override {
        controller = KOInstrumentController::create<TestInstrumentController>("test", nullptr);
        controller->setDelegate(&delegate);
        controller->setName("Test Instrument");
        audio().addInputClient(&controller->processing);
        controller->addToDataCollectorThread();
        audio().start();
    }
    void TearDown() override {
        controller->removeFromDataCollectorThread();
        if (KOAD* engine = audio().getKOAD())
            engine->RemoveClient(&controller->processing);
        audio().stop();
    }
    static KOAudioDevice& audio() { return KOAudioDevice::sharedAudioDevice(); }

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
    QThread::msleep(100);
    const auto frozen = model.collectedFrames.load();
    QThread::msleep(200);
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
