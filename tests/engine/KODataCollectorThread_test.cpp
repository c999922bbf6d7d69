#include "engine/KOAD.h"
#include "engine/KODataCollectorThread.h"
#include "platform/audio/DeviceRegistry.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <future>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace std::chrono_literals;

bool waitFor(const std::function<bool()>& done, std::chrono::milliseconds timeout = 5s) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(1ms);
    }
    return true;
}

// Opens and closes for a blocked collector pass.
class Gate {
public:
    void close() {
        const std::lock_guard lock(mMutex);
        mOpen = false;
    }
    void open() {
        {
            const std::lock_guard lock(mMutex);
            mOpen = true;
        }
        mChanged.notify_all();
    }
    void passThrough() {
        std::unique_lock lock(mMutex);
        ++mWaiting;
        mChanged.notify_all();
        mChanged.wait(lock, [&] { return mOpen; });
        --mWaiting;
    }
    bool someoneWaits() {
        const std::lock_guard lock(mMutex);
        return mWaiting > 0;
    }

private:
    std::mutex mMutex;
    std::condition_variable mChanged;
    bool mOpen = true;
    int mWaiting = 0;
};

// Records its calls into a shared journal; may wait at a gate or throw.
class RecordingController : public koru::DataCollectionClient {
public:
    RecordingController(std::string name, std::vector<std::string>& journal, std::mutex& mutex)
        : mName(std::move(name)), mJournal(journal), mJournalMutex(mutex) {}

    void dataCollection() override {
        {
            const std::lock_guard lock(mJournalMutex);
            mJournal.push_back(mName);
        }
        calls.fetch_add(1);
        if (gate)
            gate->passThrough();
        if (throws)
            throw std::runtime_error("collection failed");
    }

    std::atomic<int> calls{0};
    Gate* gate = nullptr;
    bool throws = false;

private:
    std::string mName;
    std::vector<std::string>& mJournal;
    std::mutex& mJournalMutex;
};

class DataCollectorFixture : public ::testing::Test {
protected:
    void SetUp() override {
        collector = KODataCollectorThread::createPrivate();
        // The flag starts set: the first pass runs without a wake-up.
        ASSERT_TRUE(waitFor([&] { return collector->passCount() >= 1; }));
    }

    RecordingController& makeController(const std::string& name) {
        controllers.push_back(std::make_unique<RecordingController>(name, journal, journalMutex));
        return *controllers.back();
    }

    std::vector<std::string> journalCopy() {
        const std::lock_guard lock(journalMutex);
        return journal;
    }

    // One wake-up, and the pass it causes.
    void wakeAndWait() {
        const std::uint64_t before = collector->passCount();
        collector->wakeUp();
        ASSERT_TRUE(waitFor([&] { return collector->passCount() > before; }));
    }

    std::mutex journalMutex;
    std::vector<std::string> journal;
    std::vector<std::unique_ptr<RecordingController>> controllers;
    std::unique_ptr<KODataCollectorThread> collector;
};

} // namespace

TEST_F(DataCollectorFixture, FirstPassRunsAtOnceThenOnlyOnWakeUps) {
    ASSERT_TRUE(waitFor([&] { return collector->isIdle(); }));
    EXPECT_EQ(collector->passCount(), 1u);
}

TEST_F(DataCollectorFixture, OnePassPerWakeUpControllersInOrderThenTheHook) {
    RecordingController& a = makeController("a");
    RecordingController& b = makeController("b");
    collector->addInstrumentController(&a);
    collector->addInstrumentController(&b);
    collector->addInstrumentController(&a); // already there: still one call per pass
    collector->setDataCollectorFinishedHook([&] {
        const std::lock_guard lock(journalMutex);
        journal.push_back("finished");
    });

    for (int i = 0; i < 20; ++i)
        wakeAndWait();
    ASSERT_TRUE(waitFor([&] { return collector->isIdle(); }));

    EXPECT_EQ(a.calls.load(), 20);
    EXPECT_EQ(b.calls.load(), 20);
    const std::vector<std::string> seen = journalCopy();
    ASSERT_EQ(seen.size(), 60u);
    for (std::size_t i = 0; i < seen.size(); i += 3) {
        EXPECT_EQ(seen[i], "a");
        EXPECT_EQ(seen[i + 1], "b");
        EXPECT_EQ(seen[i + 2], "finished");
    }
}

TEST_F(DataCollectorFixture, WithoutControllersTheHookStillRunsEveryPass) {
    std::atomic<int> finished{0};
    collector->setDataCollectorFinishedHook([&] { finished.fetch_add(1); });
    for (int i = 0; i < 5; ++i)
        wakeAndWait();
    EXPECT_EQ(finished.load(), 5);

    // Once replaced, the old hook never runs again.
    collector->setDataCollectorFinishedHook({});
    wakeAndWait();
    EXPECT_EQ(finished.load(), 5);
}

// Wake-ups arriving while a pass runs fold into it: one pass, no backlog afterwards.
TEST_F(DataCollectorFixture, WakeUpsDuringASlowPassCoalesce) {
    Gate gate;
    RecordingController& slow = makeController("slow");
    slow.gate = &gate;
    collector->addInstrumentController(&slow);

    gate.close();
    const std::uint64_t before = collector->passCount();
    collector->wakeUp();
    ASSERT_TRUE(waitFor([&] { return gate.someoneWaits(); }));
    for (int i = 0; i < 10; ++i)
        collector->wakeUp();
    gate.open();

    ASSERT_TRUE(waitFor([&] { return collector->passCount() == before + 1; }));
    ASSERT_TRUE(waitFor([&] { return collector->isIdle(); }));
    EXPECT_EQ(collector->passCount(), before + 1);
    EXPECT_EQ(slow.calls.load(), 1);

    wakeAndWait();
    EXPECT_EQ(slow.calls.load(), 2);
}

TEST_F(DataCollectorFixture, RemovalDuringAPassWaitsForItsEnd) {
    Gate gate;
    RecordingController& busy = makeController("busy");
    busy.gate = &gate;
    collector->addInstrumentController(&busy);

    gate.close();
    collector->wakeUp();
    ASSERT_TRUE(waitFor([&] { return gate.someoneWaits(); }));
    // What the removal saw of the pass when it returned: the pass must have left the gate.
    std::atomic<bool> started{false};
    auto removal = std::async(std::launch::async, [&] {
        started.store(true);
        collector->removeInstrumentController(&busy);
        return gate.someoneWaits();
    });
    ASSERT_TRUE(waitFor([&] { return started.load(); }));
    std::this_thread::yield();
    gate.open();
    EXPECT_FALSE(removal.get());

    wakeAndWait();
    EXPECT_EQ(busy.calls.load(), 1);
}

TEST_F(DataCollectorFixture, SecondLoopReturnsAtOnce) {
    auto second = std::async(std::launch::async, [&] { collector->collectorLoop(); });
    second.get(); // would never return if it became a second loop
    collector->startCollectorLoop();
    // The one loop still answers.
    wakeAndWait();
}

TEST_F(DataCollectorFixture, FailuresNeitherStopThePassNorTheThread) {
    RecordingController& failing = makeController("failing");
    failing.throws = true;
    RecordingController& next = makeController("next");
    collector->addInstrumentController(&failing);
    collector->addInstrumentController(&next);
    collector->setDataCollectorFinishedHook([] { throw 42; });

    wakeAndWait();
    wakeAndWait();
    EXPECT_EQ(failing.calls.load(), 2);
    EXPECT_EQ(next.calls.load(), 2);
}

// Denormals would slow every decay running on silence.
TEST_F(DataCollectorFixture, CollectorThreadFlushesDenormals) {
    std::atomic<bool> flushed{false};
    collector->setDataCollectorFinishedHook([&] {
        volatile float smallest = 1.0e-37f;
        volatile float factor = 1.0e-3f;
        flushed.store(smallest * factor == 0.0f);
    });
    wakeAndWait();
    EXPECT_TRUE(flushed.load());
}

TEST(KODataCollectorThread, SharedCollectorIsOneRunningInstance) {
    KODataCollectorThread& shared = KODataCollectorThread::sharedCollectorThread();
    EXPECT_EQ(&shared, &KODataCollectorThread::sharedCollectorThread());
    EXPECT_TRUE(waitFor([&] { return shared.passCount() >= 1; }));
}

// Stopping a private collector returns promptly even while it sleeps waiting for data.
TEST(KODataCollectorThread, PrivateCollectorStopsOnDestruction) {
    auto collector = KODataCollectorThread::createPrivate();
    ASSERT_TRUE(waitFor([&] { return collector->passCount() >= 1; }));
    ASSERT_TRUE(waitFor([&] { return collector->isIdle(); }));
    auto destruction = std::async(std::launch::async, [&] { collector.reset(); });
    destruction.get(); // hangs (and times out the test) if the sleeping loop is never woken
}

// The engine wakes the collector after every buffer it processes, through the data-ready hook
// that setKOAD installs.
class EngineDrivenCollector : public DataCollectorFixture {
protected:
    void SetUp() override {
        DataCollectorFixture::SetUp();
        koru::platform::VirtualInputConfig config;
        config.name = QStringLiteral("Collector Test");
        config.channels = 1;
        config.manual = true;
        mDevice = registry.addVirtualInput(config);
        engine = std::make_unique<KOAD>(mDevice, 1024);
        collector->setKOAD(engine.get());
        engine->Start();
    }
    void TearDown() override {
        engine.reset();
        registry.removeDevice(mDevice);
    }
    void pump() { ASSERT_TRUE(registry.virtualInput(mDevice)->pump(1024)); }

    koru::platform::DeviceRegistry& registry = koru::platform::DeviceRegistry::shared();
    std::unique_ptr<KOAD> engine;
    std::uint32_t mDevice = 0;
};

TEST_F(EngineDrivenCollector, OnePassPerBufferWhileTheCollectorKeepsUp) {
    RecordingController& controller = makeController("meter");
    collector->addInstrumentController(&controller);
    for (int i = 1; i <= 10; ++i) {
        const std::uint64_t before = collector->passCount();
        pump();
        ASSERT_TRUE(waitFor([&] { return collector->passCount() > before; })) << i;
        EXPECT_EQ(controller.calls.load(), i);
    }
    ASSERT_TRUE(waitFor([&] { return collector->isIdle(); }));
    EXPECT_EQ(controller.calls.load(), 10);
}

TEST_F(EngineDrivenCollector, BuffersDuringASlowPassCoalesce) {
    Gate gate;
    RecordingController& slow = makeController("slow");
    slow.gate = &gate;
    collector->addInstrumentController(&slow);
    gate.close();
    pump();
    ASSERT_TRUE(waitFor([&] { return gate.someoneWaits(); }));
    for (int i = 0; i < 5; ++i)
        pump();
    gate.open();
    ASSERT_TRUE(waitFor([&] { return !gate.someoneWaits() && slow.calls.load() == 1; }));
    ASSERT_TRUE(waitFor([&] { return collector->isIdle(); }));
    EXPECT_EQ(slow.calls.load(), 1);
}
