#include "platform/audio/AudioBackend.h"
#include "platform/audio/AudioInputUnit.h"
#include "platform/audio/DeviceRegistry.h"

#include "support/TestSupport.h"

#include <QCoreApplication>
#include <QProcess>
#include <QStandardPaths>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

using koru::platform::AudioBackend;
using koru::platform::AudioInputUnit;
using koru::platform::DeviceRegistry;

namespace {

// A JACK server of this test's own, on the dummy driver (no sound card needed), under a name
// no other server on the machine uses.
class JackServer : public ::testing::Test {
protected:
    static constexpr int kRate = 48000;
    static constexpr int kPeriod = 256;

    void SetUp() override {
        const QString jackd = QStandardPaths::findExecutable(QStringLiteral("jackd"));
        if (jackd.isEmpty())
            GTEST_SKIP() << "jackd is not installed: the JACK back-end is not tested";
        m_previousServer = qgetenv("JACK_DEFAULT_SERVER");
        const QString name = QStringLiteral("koru-test-%1").arg(QCoreApplication::applicationPid());
        qputenv("JACK_DEFAULT_SERVER", name.toUtf8());

        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("JACK_NO_AUDIO_RESERVATION"), QStringLiteral("1"));
        m_server.setProcessEnvironment(environment);
        m_server.setProcessChannelMode(QProcess::MergedChannels);
        m_server.start(jackd,
                       {"--no-realtime", "-n", name, "-d", "dummy", "-r", QString::number(kRate),
                        "-p", QString::number(kPeriod), "-C", "2", "-P", "2"});
        ASSERT_TRUE(m_server.waitForStarted(5000)) << "jackd did not start";
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (!koru::platform::jackServerRunning()) {
            ASSERT_EQ(m_server.state(), QProcess::Running)
                << "jackd ended: " << m_server.readAll().toStdString();
            ASSERT_LT(std::chrono::steady_clock::now(), deadline) << "jackd never answered";
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
    }

    void TearDown() override {
        stopServer();
        if (m_previousServer.isNull())
            qunsetenv("JACK_DEFAULT_SERVER");
        else
            qputenv("JACK_DEFAULT_SERVER", m_previousServer);
    }

    void stopServer() {
        if (m_server.state() == QProcess::NotRunning)
            return;
        m_server.terminate();
        if (!m_server.waitForFinished(5000)) {
            m_server.kill();
            m_server.waitForFinished(2000);
        }
    }

    // The server's capture ports appear a moment after its socket answers.
    static std::uint32_t waitForCaptureDevice(DeviceRegistry& registry) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (std::chrono::steady_clock::now() < deadline) {
            registry.refresh();
            for (const auto& info : registry.devices()) {
                if (!info.isVirtual() && info.hasInputs() && info.uid.startsWith("jack:"))
                    return info.id;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        return 0;
    }

    QProcess m_server;
    QByteArray m_previousServer;
};

// Counts what the unit hands on; checks every block's size on the audio thread.
struct BlockCounter {
    AudioInputUnit* unit = nullptr;
    std::atomic<int> blocks{0};
    std::atomic<int> wrongSize{0};
    std::atomic<int> renderErrors{0};
    float storage[2][1024] = {};
    AudioBuffer buffers[2];
    AudioBufferList list{2, buffers};

    static OSStatus inputProc(void* refCon, AudioUnitRenderActionFlags* flags,
                              const AudioTimeStamp* time, std::uint32_t bus, std::uint32_t frames,
                              AudioBufferList*) {
        auto* self = static_cast<BlockCounter*>(refCon);
        for (int c = 0; c < 2; ++c)
            self->buffers[c] = {1, sizeof self->storage[c], self->storage[c]};
        if (frames != 1024)
            ++self->wrongSize;
        if (self->unit->render(flags, time, bus, frames, &self->list) != noErr)
            ++self->renderErrors;
        ++self->blocks;
        return noErr;
    }
};

} // namespace

TEST_F(JackServer, CapturesThroughRtAudioInWholeBlocksAtRealTimePace) {
    DeviceRegistry registry(AudioBackend::Jack);
    const std::uint32_t device = waitForCaptureDevice(registry);
    ASSERT_NE(device, 0u) << "the JACK server's capture ports are not listed";
    EXPECT_EQ(registry.device(device)->inputChannels, 2u);
    EXPECT_EQ(registry.device(device)->uid, "jack:system");
    EXPECT_EQ(registry.setNominalSampleRate(device, 44100.0), kAudioDeviceUnsupportedFormatError)
        << "JACK runs at its server's rate only";

    AudioInputUnit unit(registry);
    BlockCounter counter;
    counter.unit = &unit;
    const AURenderCallbackStruct callback{&BlockCounter::inputProc, &counter};
    ASSERT_EQ(unit.setProperty(kAudioOutputUnitProperty_CurrentDevice, kAudioUnitScope_Global, 0,
                               &device, sizeof device),
              noErr);
    ASSERT_EQ(unit.setProperty(kAudioOutputUnitProperty_SetInputCallback, kAudioUnitScope_Global, 0,
                               &callback, sizeof callback),
              noErr);
    ASSERT_EQ(unit.initialize(), noErr);
    ASSERT_EQ(unit.start(), noErr);
    EXPECT_EQ(unit.devicePeriodFrames(), std::uint32_t(kPeriod)) << "JACK's own period";

    const auto begin = std::chrono::steady_clock::now();
    ASSERT_TRUE(koru::test::spinUntil([&] { return counter.blocks.load() >= 40; }, 10000))
        << "only " << counter.blocks.load() << " blocks arrived";
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
    // 40 blocks of 1024 frames at 48 kHz are 0.853 s of audio.
    EXPECT_GT(seconds, 0.6);
    EXPECT_LT(seconds, 5.0);
    EXPECT_EQ(counter.wrongSize.load(), 0);
    EXPECT_EQ(counter.renderErrors.load(), 0);
    double rate = 0;
    std::uint32_t size = sizeof rate;
    unit.getProperty(kAudioDevicePropertyNominalSampleRate, kAudioUnitScope_Global, 0, &rate,
                     &size);
    EXPECT_EQ(rate, double(kRate));
    unit.stop();
}

TEST_F(JackServer, ServerThatGoesAwayIsReplacedByTheVirtualInput) {
    DeviceRegistry registry(AudioBackend::Jack);
    const std::uint32_t device = waitForCaptureDevice(registry);
    ASSERT_NE(device, 0u) << "the JACK server's capture ports are not listed";
    AudioInputUnit unit(registry);
    int failures = 0;
    unit.setFailureHandler([&](std::uint32_t, const QString&) { ++failures; });
    unit.setProperty(kAudioOutputUnitProperty_CurrentDevice, kAudioUnitScope_Global, 0, &device,
                     sizeof device);
    ASSERT_EQ(unit.initialize(), noErr);
    ASSERT_EQ(unit.start(), noErr);

    stopServer();
    // Whichever notices first, the stream's error report or the next poll of the list.
    ASSERT_TRUE(koru::test::spinUntil(
        [&] {
            registry.refresh();
            return unit.currentDevice() == registry.virtualInputDevice();
        },
        10000));
    EXPECT_EQ(failures, 1);
    EXPECT_TRUE(unit.isRunning());
    unit.stop();
}
