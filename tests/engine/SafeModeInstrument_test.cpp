#include "engine/KOAD.h"
#include "engine/KOAuxSummingChannel.h"
#include "engine/SafeModeInstrument.h"

#include "platform/audio/DeviceRegistry.h"
#include "platform/fourcc/FourCC.h"
#include "zotools/CAException.h"

#include <gtest/gtest.h>

#include <memory>

using koru::platform::DeviceRegistry;
using koru::platform::VirtualInputConfig;

namespace {

// The recorder's shape: detaches first thing in its destructor.
class StubRecorder : public koru::SafeModeInstrument {
public:
    ~StubRecorder() override { DetachFromHost(); }
    void Process(const AudioBufferList*, std::uint32_t) override {}
    void SetNumberOfChannels(std::uint32_t count) override { m_numberOfChannels.store(count); }
    void ChannelsChanged(std::uint32_t, std::uint32_t) override {}
};

class SafeModeInstrumentTest : public ::testing::Test {
protected:
    void SetUp() override {
        VirtualInputConfig config;
        config.name = QStringLiteral("Safe Mode Test");
        config.channels = 2;
        config.manual = true;
        mDevice = registry.addVirtualInput(config);
        engine = std::make_unique<KOAD>(mDevice, 1024);
    }
    void TearDown() override {
        engine.reset();
        registry.removeDevice(mDevice);
    }
    bool refusesEdits() {
        try {
            engine->AddSummingChannel(std::make_unique<KOAuxSummingChannel>());
        } catch (const CAException& e) {
            return e.GetError() == OSStatus(koru::platform::fourCC("sfmd"));
        }
        engine->RemoveAllSummingChannels();
        return false;
    }

    DeviceRegistry& registry = DeviceRegistry::shared();
    std::unique_ptr<KOAD> engine;
    std::uint32_t mDevice = 0;
};

TEST_F(SafeModeInstrumentTest, AttachedRecorderHoldsSafeModeUntilDestroyed) {
    auto recorder = std::make_unique<StubRecorder>();
    EXPECT_FALSE(engine->InSafeMode());
    engine->AddClient(recorder.get());
    EXPECT_TRUE(recorder->HoldsSafeMode());
    EXPECT_TRUE(engine->InSafeMode());
    EXPECT_TRUE(refusesEdits());

    recorder.reset();
    EXPECT_EQ(engine->NumberOfClients(), 0u);
    EXPECT_FALSE(engine->InSafeMode());
    EXPECT_FALSE(refusesEdits());
}

// The engine hands every client its host again on each reconfiguration; entering each time
// would leave the engine in safe mode for good.
TEST_F(SafeModeInstrumentTest, ReconfigurationsDoNotStackSafeMode) {
    auto first = std::make_unique<StubRecorder>();
    auto second = std::make_unique<StubRecorder>();
    engine->AddClient(first.get());
    engine->AddClient(second.get());
    for (int i = 0; i < 3; ++i)
        engine->Reconfigure(0, 0, 0);

    first.reset();
    EXPECT_TRUE(engine->InSafeMode()) << "the second recorder still records";
    engine->Reconfigure(0, 0, 0);
    second.reset();
    EXPECT_FALSE(engine->InSafeMode());
}

TEST_F(SafeModeInstrumentTest, SafeModeReturnsToItsEarlierCount) {
    engine->EnterSafeMode(); // someone else's hold
    {
        StubRecorder recorder;
        engine->AddClient(&recorder);
        engine->Reconfigure(0, 0, 0);
    }
    EXPECT_TRUE(engine->InSafeMode());
    engine->LeaveSafeMode();
    EXPECT_FALSE(engine->InSafeMode());
}

TEST_F(SafeModeInstrumentTest, NullHostAndUnattachedRecorderChangeNothing) {
    {
        StubRecorder unattached;
        unattached.SetHost(nullptr);
        EXPECT_FALSE(unattached.HoldsSafeMode());
        EXPECT_EQ(unattached.Host(), nullptr);
    }
    StubRecorder recorder;
    engine->AddClient(&recorder);
    recorder.SetHost(nullptr);
    EXPECT_EQ(recorder.Host(), engine.get());
    EXPECT_TRUE(engine->InSafeMode());
    engine->RemoveClient(&recorder);
}

} // namespace
