#include "EngineTestSupport.h"
#include "engine/KOAD.h"

#include "platform/audio/DeviceRegistry.h"

#include <gtest/gtest.h>

#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

using koru::platform::DeviceRegistry;
using koru::platform::VirtualInputConfig;
using koru::platform::VirtualSignal;
using koru::test::Gate;

namespace {

// Whether the thread sits in a futex wait: blocked on a mutex, since the threads watched here
// wait on nothing else. Read from /proc, so no test has to guess with a sleep.
bool blockedOnALock(pid_t tid) {
    std::ifstream file("/proc/self/task/" + std::to_string(tid) + "/syscall");
    long number = -1;
    return (file >> number) && number == SYS_futex;
}

// Polls until the thread blocks; the deadline is a safety net, not a pace.
bool eventuallyBlocked(pid_t tid) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (std::chrono::steady_clock::now() < deadline) {
        if (blockedOnALock(tid)) {
            return true;
        }
        std::this_thread::yield();
    }
    return false;
}

pid_t currentThreadId() {
    return pid_t(::syscall(SYS_gettid));
}

// Counts its passes and the channels it saw; while a gate is set, its next Process (or its next
// SetNumberOfChannels, called under the engine mutex during an edit) stops there.
class GatedClient : public ZOInputClient {
public:
    void Process(const AudioBufferList* buffers, std::uint32_t) override {
        channelsSeen.push_back(buffers->mNumberBuffers);
        if (Gate* gate = processGate.exchange(nullptr)) {
            gate->arriveAndWait();
        }
        processed.fetch_add(1);
    }
    void SetNumberOfChannels(std::uint32_t count) override {
        m_numberOfChannels.store(count);
        if (Gate* gate = editGate.exchange(nullptr)) {
            gate->arriveAndWait();
        }
    }
    void ChannelsChanged(std::uint32_t, std::uint32_t) override {}

    std::atomic<Gate*> processGate{nullptr};
    std::atomic<Gate*> editGate{nullptr};
    std::atomic<int> processed{0};
    std::vector<std::uint32_t> channelsSeen; // written by the pass, read once it is over
};

class CountingAux : public KOAuxInput {
public:
    std::uint32_t NumberOfChannels() const override { return 2; }
    void Start() override {}
    void Render(AudioBufferList* buffers, std::uint32_t first, std::uint32_t frames) override {
        for (std::uint32_t c = first; c < first + 2 && c < buffers->mNumberBuffers; ++c) {
            auto* data = static_cast<float*>(buffers->mBuffers[c].mData);
            std::fill(data, data + frames, 0.25f);
        }
        renders.fetch_add(1);
    }
    QString Name(int channel) const override { return QStringLiteral("Counting %1").arg(channel); }
    std::atomic<int> renders{0};
};

class GateTest : public ::testing::Test {
protected:
    GateTest() {
        VirtualInputConfig config;
        config.name = QStringLiteral("Gate Test");
        config.channels = 2;
        config.manual = true;
        config.channelSignals = {VirtualSignal::constant(0.5f)};
        mDevice = registry.addVirtualInput(config);
        engine = std::make_unique<KOAD>(mDevice, 1024);
        engine->Start();
    }
    ~GateTest() override {
        engine.reset();
        registry.removeDevice(mDevice);
    }
    void pump() { ASSERT_TRUE(registry.virtualInput(mDevice)->pump(1024)); }
    // Runs one pass on a thread of its own, as the device's thread would.
    std::thread pumpOnAudioThread() {
        return std::thread([this] { registry.virtualInput(mDevice)->pump(1024); });
    }
    // Makes an edit on the main thread, where edits belong, while a pass is held at `gate`: a
    // helper opens the gate once it has seen the main thread blocked on the engine's lock.
    // Answers whether it was.
    bool editWaitsForTheHeldPass(Gate& gate, const std::function<void()>& edit) {
        std::atomic<bool> blocked{false};
        std::thread opener([&, main = currentThreadId()] {
            blocked.store(eventuallyBlocked(main));
            gate.open();
        });
        edit();
        opener.join();
        return blocked.load();
    }

    DeviceRegistry& registry = DeviceRegistry::shared();
    std::unique_ptr<KOAD> engine;
    std::uint32_t mDevice = 0;
};

} // namespace

// RemoveClient called while the client's Process is held waits for that pass, and once it has
// returned the client never runs again: it may be deleted at once.
TEST_F(GateTest, AClientRemovedDuringItsHeldProcessNeverRunsAgain) {
    auto held = std::make_unique<GatedClient>();
    GatedClient other;
    engine->AddClient(held.get());
    engine->AddClient(&other);
    Gate gate;
    held->processGate.store(&gate);
    std::thread audio = pumpOnAudioThread();
    ASSERT_TRUE(gate.waitForArrivals(1));

    EXPECT_TRUE(editWaitsForTheHeldPass(gate, [&] {
        engine->RemoveClient(held.get());
        // Returned: the held pass must be over.
        EXPECT_EQ(held->processed.load(), 1) << "RemoveClient returned inside the pass";
    })) << "RemoveClient did not wait for the held pass";
    audio.join();
    EXPECT_EQ(other.processed.load(), 1);

    held.reset(); // gone: a later pass touching it would be a use after free
    for (int i = 0; i < 4; ++i) {
        pump();
    }
    EXPECT_EQ(other.processed.load(), 5);
    EXPECT_EQ(engine->NumberOfClients(), 1u);
    engine->RemoveClient(&other);
}

// Every list edit made while a pass is held waits for it: the held pass saw the old layout
// throughout, the next one sees the new layout, and a removed source renders no more.
TEST_F(GateTest, ListEditsDuringAHeldPassWaitAndTheNextPassSeesTheNewLayout) {
    struct Case {
        const char* label;
        std::function<void(KOAD&, CountingAux&)> prepare;
        std::function<void(KOAD&, CountingAux&)> edit;
        std::uint32_t before;
        std::uint32_t after;
        bool removesTheSource;
    };
    const auto pair = [] {
        auto summing = std::make_unique<KOAuxSummingChannel>();
        summing->setChannelA(0);
        summing->setChannelB(1);
        return summing;
    };
    const Case cases[] = {
        {"AddAuxInput", [](KOAD&, CountingAux&) {},
         [](KOAD& engine, CountingAux& aux) { engine.AddAuxInput(&aux); }, 2, 4, false},
        {"RemoveAuxInput", [](KOAD& engine, CountingAux& aux) { engine.AddAuxInput(&aux); },
         [](KOAD& engine, CountingAux& aux) { engine.RemoveAuxInput(&aux); }, 4, 2, true},
        {"AddSummingChannel", [](KOAD&, CountingAux&) {},
         [&](KOAD& engine, CountingAux&) { engine.AddSummingChannel(pair()); }, 2, 4, false},
        {"RemoveAllSummingChannels",
         [&](KOAD& engine, CountingAux&) { engine.AddSummingChannel(pair()); },
         [](KOAD& engine, CountingAux&) { engine.RemoveAllSummingChannels(); }, 4, 2, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        CountingAux aux;
        GatedClient client;
        engine->AddClient(&client);
        c.prepare(*engine, aux);
        Gate gate;
        client.processGate.store(&gate);
        std::thread audio = pumpOnAudioThread();
        ASSERT_TRUE(gate.waitForArrivals(1));
        const int rendersBefore = aux.renders.load();

        EXPECT_TRUE(editWaitsForTheHeldPass(gate, [&] { c.edit(*engine, aux); }))
            << "the edit did not wait for the held pass";
        audio.join();
        pump();
        ASSERT_EQ(client.channelsSeen.size(), 2u);
        EXPECT_EQ(client.channelsSeen[0], c.before) << "the held pass";
        EXPECT_EQ(client.channelsSeen[1], c.after) << "the next pass";
        if (c.removesTheSource) {
            EXPECT_EQ(aux.renders.load(), rendersBefore) << "a removed source renders no more";
        }
        engine->RemoveClient(&client);
        engine->RemoveAuxInput(&aux);
        engine->RemoveAllSummingChannels();
    }
}

// A pass that comes while an edit holds the engine is skipped, not waited for: the audio thread
// returns at once, and every registered client is told of the skip by the next pass.
TEST_F(GateTest, PassesDuringAHeldEditAreSkippedAndCountedForEveryClient) {
    GatedClient registered;
    engine->AddClient(&registered);
    GatedClient joining;
    Gate gate;
    joining.editGate.store(&gate);
    std::atomic<std::uint64_t> skippedWhileHeld{0};
    // The audio side, while AddClient on the main thread holds the engine mutex.
    std::thread audio([&] {
        if (!gate.waitForArrivals(1)) {
            gate.open();
            return;
        }
        for (int i = 0; i < 3; ++i) {
            registry.virtualInput(mDevice)->pump(1024); // returns: the pass was skipped
        }
        skippedWhileHeld.store(engine->SkippedBlocks());
        gate.open();
    });
    engine->AddClient(&joining);
    audio.join();
    EXPECT_EQ(skippedWhileHeld.load(), 3u);
    EXPECT_EQ(registered.processed.load(), 0);

    pump();
    EXPECT_EQ(registered.processed.load(), 1);
    EXPECT_EQ(registered.SkippedBlocks(), 3u);
    EXPECT_EQ(joining.SkippedBlocks(), 3u) << "credited to every client of the next pass";
    engine->RemoveClient(&registered);
    engine->RemoveClient(&joining);
}
