#include "analysers/KODelayFinderRun.h"

#include "analysers/KODelayFinderData.h"
#include "engine/KOAudioDevice.h"
#include "engine/KODelayFinder.h"
#include "engine/SDFloatVector.h"
#include "platform/audio/AudioTypes.h"
#include "platform/audio/DeviceRegistry.h"
#include "support/TestSupport.h"

#include <QCoreApplication>
#include <QObject>

#include <gtest/gtest.h>

#include <memory>
#include <random>
#include <thread>
#include <vector>

namespace {

constexpr std::uint32_t kBuffer = 1024;
constexpr std::int64_t kDelay = 321;

// Noise on channel `source`, the same noise kDelay samples later on channel `response`, silence
// on any other channel, 1024 frames per buffer.
class NoiseFeeder {
public:
    NoiseFeeder(std::uint32_t channels, std::uint32_t source, std::uint32_t response)
        : mChannels(channels, std::vector<float>(kBuffer, 0.0f)), mSource(source),
          mResponse(response), mNoise(KODelayFinder::kDefaultFFTSize + 64 * kBuffer) {
        std::mt19937 generator(17);
        std::uniform_real_distribution<float> uniform(-1.0f, 1.0f);
        for (float& sample : mNoise)
            sample = uniform(generator);
    }
    void feed(ZOInputClient& client, std::uint32_t buffers) {
        for (std::uint32_t b = 0; b < buffers; ++b, mFrame += kBuffer) {
            for (std::uint32_t i = 0; i < kBuffer; ++i) {
                const std::int64_t n = mFrame + i + kDelay;
                mChannels[mSource][i] = mNoise[std::size_t(n)];
                mChannels[mResponse][i] = mNoise[std::size_t(n - kDelay)];
            }
            std::vector<AudioBuffer> entries;
            for (auto& channel : mChannels)
                entries.push_back({1, kBuffer * 4, channel.data()});
            AudioBufferList list{std::uint32_t(entries.size()), entries.data()};
            client.Process(&list, kBuffer);
        }
    }

private:
    std::vector<std::vector<float>> mChannels;
    std::uint32_t mSource;
    std::uint32_t mResponse;
    std::vector<float> mNoise;
    std::int64_t mFrame = 0;
};

// The owner's side: what arrived, what the engine got and what was posted.
struct Owner {
    QObject context;
    std::vector<ZOInputClient*> registered;
    std::vector<std::shared_ptr<KODelayFinderData>> results;
    std::vector<QString> posted;
    QString answer = QStringLiteral("Transfer 2: 2.29 m");

    std::unique_ptr<KODelayFinderRun> makeRun() {
        return std::make_unique<KODelayFinderRun>(
            &context,
            [this](const std::shared_ptr<KODelayFinderData>& data) {
                results.push_back(data);
                return answer;
            },
            [this](ZOInputClient* client) { registered.push_back(client); },
            [this](const QString& text) { posted.push_back(text); });
    }
};

bool collectOnAnotherThread(KODelayFinderRun& run) {
    bool collected = false;
    std::thread collector([&] { collected = run.collect(); });
    collector.join();
    return collected;
}

TEST(KODelayFinderRun, MeasuresOffTheAudioThreadAndPostsWhenDone) {
    Owner owner;
    auto run = owner.makeRun();
    EXPECT_EQ(run->status(), QString());
    ASSERT_TRUE(run->start(0, 1));
    ASSERT_EQ(owner.registered.size(), 1u);
    EXPECT_EQ(run->status(), QStringLiteral("Waiting for Signal"));
    EXPECT_FALSE(run->start(1, 0)) << "one at a time";
    EXPECT_EQ(owner.registered.size(), 1u);

    NoiseFeeder feeder(2, 0, 1);
    feeder.feed(*owner.registered[0], 1);
    EXPECT_EQ(run->status(), QStringLiteral("Recording"));
    EXPECT_FALSE(collectOnAnotherThread(*run)) << "nothing to collect while recording";
    feeder.feed(*owner.registered[0], KODelayFinder::kDefaultFFTSize / kBuffer);
    EXPECT_EQ(run->status(), QString()) << "complete: neither waiting nor recording";
    EXPECT_TRUE(run->isRunning());

    ASSERT_TRUE(collectOnAnotherThread(*run));
    EXPECT_FALSE(run->isRunning());
    EXPECT_TRUE(owner.results.empty()) << "delivered on the main thread";
    ASSERT_TRUE(koru::test::spinUntil([&] { return !owner.results.empty(); }));
    ASSERT_EQ(owner.results.size(), 1u);
    EXPECT_EQ(owner.results[0]->findPeakPosition(), kDelay);
    EXPECT_EQ(owner.results[0]->impulseResponse()->length(), KODelayFinder::kDefaultFFTSize);
    EXPECT_EQ(owner.posted, std::vector<QString>{QStringLiteral("Transfer 2: 2.29 m")});
    EXPECT_FALSE(collectOnAnotherThread(*run)) << "collected once";

    EXPECT_TRUE(run->start(0, 1)) << "a new run after the result";
    EXPECT_EQ(owner.registered.size(), 2u);
}

TEST(KODelayFinderRun, ARunningFinderFollowsAChannelChange) {
    Owner owner;
    auto run = owner.makeRun();
    ASSERT_TRUE(run->start(0, 1));
    run->setChannels(2, 0);
    NoiseFeeder feeder(3, 2, 0);
    feeder.feed(*owner.registered[0], KODelayFinder::kDefaultFFTSize / kBuffer);
    ASSERT_TRUE(collectOnAnotherThread(*run));
    ASSERT_TRUE(koru::test::spinUntil([&] { return !owner.results.empty(); }));
    EXPECT_EQ(owner.results[0]->findPeakPosition(), kDelay);
}

TEST(KODelayFinderRun, NothingArrivesOnceTheOwnerIsGoneAndAnEmptyAnswerPostsNothing) {
    for (const bool ownerGoes : {true, false}) {
        SCOPED_TRACE(ownerGoes ? "owner gone" : "empty answer");
        std::vector<std::shared_ptr<KODelayFinderData>> results;
        std::vector<QString> posted;
        auto context = std::make_unique<QObject>();
        std::vector<ZOInputClient*> registered;
        KODelayFinderRun run(
            context.get(),
            [&](const std::shared_ptr<KODelayFinderData>& data) {
                results.push_back(data);
                return QString();
            },
            [&](ZOInputClient* client) { registered.push_back(client); },
            [&](const QString& text) { posted.push_back(text); });
        ASSERT_TRUE(run.start(0, 1));
        NoiseFeeder feeder(2, 0, 1);
        feeder.feed(*registered[0], KODelayFinder::kDefaultFFTSize / kBuffer);
        ASSERT_TRUE(collectOnAnotherThread(run));
        if (ownerGoes)
            context.reset();
        QCoreApplication::processEvents();
        QCoreApplication::processEvents();
        EXPECT_EQ(results.size(), ownerGoes ? 0u : 1u);
        EXPECT_TRUE(posted.empty());
    }
}

} // namespace

namespace {

// Through the program's audio device on a pumped virtual input: the same noise on both channels,
// the response at half the level.
TEST(KODelayFinderRun, RegistersWithTheAudioDeviceByDefault) {
    koru::platform::VirtualInputConfig config;
    config.name = QStringLiteral("Delay Noise");
    config.channels = 2;
    config.sampleRate = 48000.0;
    config.channelSignals = {koru::platform::VirtualSignal::noise(1.0f, 3),
                             koru::platform::VirtualSignal::noise(0.5f, 3)};
    config.manual = true;
    const std::uint32_t id = koru::platform::DeviceRegistry::shared().addVirtualInput(config);
    KOAudioDevice& device = KOAudioDevice::sharedAudioDevice();
    device.setAudioObjectID(id);
    device.start();
    ASSERT_TRUE(device.isRunning()) << device.lastDeviceFailure().toStdString();

    QObject context;
    std::vector<std::shared_ptr<KODelayFinderData>> results;
    std::vector<QString> posted;
    KODelayFinderRun run(
        &context,
        [&](const std::shared_ptr<KODelayFinderData>& data) {
            results.push_back(data);
            return KODelayFinderRun::notificationText(QStringLiteral("Transfer 9"),
                                                      QStringLiteral("0.00 m"));
        },
        {}, [&](const QString& text) { posted.push_back(text); });
    ASSERT_TRUE(run.start(0, 1));
    const auto input = koru::platform::DeviceRegistry::shared().virtualInput(id);
    for (std::uint32_t b = 0; b < KODelayFinder::kDefaultFFTSize / kBuffer + 1; ++b)
        ASSERT_TRUE(input->pump(kBuffer));
    ASSERT_TRUE(koru::test::spinUntil([&] { return collectOnAnotherThread(run); }));
    ASSERT_TRUE(koru::test::spinUntil([&] { return !results.empty(); }));
    EXPECT_EQ(results[0]->findPeakPosition(), 0);
    const float* ir = results[0]->impulseResponse()->data();
    EXPECT_NEAR(ir[0], 0.5f * float(KODelayFinder::kDefaultFFTSize),
                1e-3f * float(KODelayFinder::kDefaultFFTSize));
    EXPECT_EQ(posted, std::vector<QString>{QStringLiteral("Transfer 9: 0.00 m")});
    device.stop();
}

} // namespace
