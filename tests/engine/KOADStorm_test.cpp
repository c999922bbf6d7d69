#include "EngineTestSupport.h"
#include "engine/KOAD.h"

#include "platform/audio/DeviceRegistry.h"
#include "zotools/CAException.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <random>
#include <thread>
#include <vector>

using koru::platform::DeviceRegistry;
using koru::platform::VirtualInputConfig;
using koru::platform::VirtualSignal;

namespace {

// Reads every sample of the channel it watches, so a stale list or a freed client shows up
// under the sanitizers.
class WatchingClient : public ZOInputClient {
public:
    explicit WatchingClient(std::uint32_t channel) : mChannel(channel) {}
    void Process(const AudioBufferList* buffers, std::uint32_t frames) override {
        const std::uint32_t channel = mChannel.load(std::memory_order_relaxed);
        if (channel >= buffers->mNumberBuffers) {
            return;
        }
        const auto* data = static_cast<const float*>(buffers->mBuffers[channel].mData);
        float sum = 0.0f;
        for (std::uint32_t i = 0; i < frames; ++i) {
            sum += data[i];
        }
        mSum = sum;
        mProcessed.fetch_add(1, std::memory_order_relaxed);
    }
    void SetNumberOfChannels(std::uint32_t count) override { m_numberOfChannels.store(count); }
    void ChannelsChanged(std::uint32_t position, std::uint32_t delta) override {
        const std::uint32_t channel = mChannel.load();
        if (channel >= position) {
            mChannel.store(channel + delta);
        }
    }

private:
    std::atomic<std::uint32_t> mChannel;
    std::atomic<std::uint64_t> mProcessed{0};
    float mSum = 0.0f;
};

class ConstantAux : public KOAuxInput {
public:
    explicit ConstantAux(std::uint32_t channels) : mChannels(channels) {}
    std::uint32_t NumberOfChannels() const override { return mChannels; }
    void Start() override {}
    void Render(AudioBufferList* buffers, std::uint32_t first, std::uint32_t frames) override {
        for (std::uint32_t c = 0; c < mChannels && first + c < buffers->mNumberBuffers; ++c) {
            auto* data = static_cast<float*>(buffers->mBuffers[first + c].mData);
            std::fill(data, data + frames, 0.25f);
        }
    }
    QString Name(int channel) const override { return QStringLiteral("Constant %1").arg(channel); }

private:
    std::uint32_t mChannels;
};

std::atomic<std::uint64_t> gBuffers{0};
void countBuffer() {
    gBuffers.fetch_add(1, std::memory_order_relaxed);
}

template <typename T> std::unique_ptr<T> takeAt(std::vector<std::unique_ptr<T>>& list, int index) {
    std::unique_ptr<T> taken = std::move(list[std::size_t(index)]);
    list.erase(list.begin() + index);
    return taken;
}

} // namespace

// Edits of clients, auxiliary inputs (a generator on the null output among them) and summing
// channels, safe mode, names, levels and channel maps, as fast as the main thread can make
// them, while a paced virtual device drives the engine from its own thread.
TEST(KOADStorm, SurvivesEditsUnderARunningDevice) {
    DeviceRegistry& registry = DeviceRegistry::shared();
    VirtualInputConfig config;
    config.name = QStringLiteral("Storm Input");
    config.channels = 4;
    config.periodFrames = 256;
    config.channelSignals = {VirtualSignal::noise(0.5f, 3), VirtualSignal::sine(440.0, 0.5f)};
    const std::uint32_t device = registry.addVirtualInput(config);

    std::vector<std::unique_ptr<WatchingClient>> clients;
    std::vector<std::unique_ptr<ConstantAux>> auxInputs;
    std::unique_ptr<koru::test::TestGenerator> generator;
    auto engine = std::make_unique<KOAD>(device, 1024);
    gBuffers = 0;
    engine->SetDataReadyHook(&countBuffer);
    engine->Start();

    std::mt19937 random(2024);
    const auto pick = [&](std::size_t size) {
        return int(random() % std::max<std::size_t>(size, 1));
    };
    int edits = 0;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(6);
    while (std::chrono::steady_clock::now() < deadline) {
        switch (random() % 11) {
        case 0:
            clients.push_back(std::make_unique<WatchingClient>(random() % 300));
            engine->AddClient(clients.back().get());
            break;
        case 1:
            if (!clients.empty()) {
                const auto client = takeAt(clients, pick(clients.size()));
                engine->RemoveClient(client.get()); // deleted right after: no Process may follow
            }
            break;
        case 2:
            auxInputs.push_back(std::make_unique<ConstantAux>(1 + random() % 3));
            if (!engine->AddAuxInput(auxInputs.back().get())) {
                auxInputs.pop_back();
            }
            break;
        case 3:
            if (!auxInputs.empty()) {
                const auto aux = takeAt(auxInputs, pick(auxInputs.size()));
                engine->RemoveAuxInput(aux.get());
            }
            break;
        case 4: {
            auto summing = std::make_unique<KOAuxSummingChannel>();
            summing->setChannelA(random() % 300);
            summing->setChannelB(random() % 8);
            engine->AddSummingChannel(std::move(summing));
            break;
        }
        case 5:
            engine->RemoveSummingChannel(random() % 6);
            break;
        case 6:
            if (random() % 4 == 0) {
                engine->RemoveAllSummingChannels();
            }
            break;
        case 7:
            engine->EnterSafeMode();
            EXPECT_THROW(engine->RemoveAllSummingChannels(), CAException);
            engine->LeaveSafeMode();
            break;
        case 8:
            (void)engine->GetLevels(random() % 512);
            (void)engine->ChannelName(random() % 300);
            break;
        case 9: {
            const std::int32_t map[] = {std::int32_t(random() % 5) - 1, 3, 2, 1};
            engine->SetChannelMap(map, 1 + random() % 4);
            break;
        }
        case 10:
            if (generator) {
                engine->RemoveAuxInput(generator.get());
                generator.reset();
            } else {
                generator = std::make_unique<koru::test::TestGenerator>(
                    std::make_unique<koru::test::SineSource>(1000.0));
                engine->AddAuxInput(generator.get());
            }
            break;
        }
        ++edits;
        std::this_thread::sleep_for(std::chrono::microseconds(random() % 3000));
    }

    const std::uint64_t during = gBuffers.load();
    const auto settled = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    while (gBuffers.load() < during + 5 && std::chrono::steady_clock::now() < settled) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_GT(edits, 100);
    EXPECT_GT(during, 0u);
    EXPECT_GE(gBuffers.load(), during + 5) << "the engine stopped delivering buffers";

    engine.reset(); // before the inputs and clients it points at
    generator.reset();
    registry.removeDevice(device);
}
