#include "AudioSettingsWindowTestSupport.h"

#include "platform/audio/AudioBackend.h"
#include "platform/audio/DeviceRegistry.h"
#include "platform/audio/VirtualSignal.h"
#include "support/PrivatePulseServer.h"
#include "support/TestSupport.h"
#include "zotools/ui/ZOAudioInputDevicePopUpButton.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QPushButton>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cmath>

namespace {

using koru::platform::AudioBackend;
using koru::platform::DeviceRegistry;

constexpr double kToneHz = 1000.0;
constexpr std::uint32_t kFFTSize = 8192;

// A PulseAudio server of the test's own (a null sink and a 1 kHz sine source, in a private
// runtime folder) that this process's device list reads through the pulse back-end, and a
// stand-in for the server's mixer on PATH that leaves a mark when started.
class AudioSettingsOnPulse : public ::testing::Test {
protected:
    void SetUp() override {
        if (!koru::test::PrivatePulseServer::installed())
            GTEST_SKIP() << "pulseaudio is not installed: the pulse back-end is not tested";
        const QString failure = mServer.start();
        ASSERT_TRUE(failure.isEmpty()) << failure.toStdString();

        // The mixer's stand-in.
        mPath = qgetenv("PATH");
        QFile mixer(QDir(mPrograms.path()).filePath(QStringLiteral("pavucontrol")));
        ASSERT_TRUE(mixer.open(QIODevice::WriteOnly));
        mixer.write(QStringLiteral("#!/bin/sh\necho started > \"%1\"\n").arg(mixerMark()).toUtf8());
        mixer.close();
        mixer.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        qputenv("PATH", mPrograms.path().toUtf8() + ":" + mPath);

        qputenv("KORU_AUDIO_API", "pulse");
        if (DeviceRegistry::shared().backend() != AudioBackend::Pulse)
            GTEST_SKIP() << "this process listed its devices before the test: run it alone";
    }

    void TearDown() override {
        if (!mPath.isNull())
            qputenv("PATH", mPath);
        mServer.kill();
    }

    QString mixerMark() const { return QDir(mPrograms.path()).filePath("mixer.started"); }

    static std::uint32_t sineSource() {
        return koru::test::PrivatePulseServer::sineSource(DeviceRegistry::shared());
    }

    QTemporaryDir mPrograms;
    koru::test::PrivatePulseServer mServer;
    QByteArray mPath;
};

TEST_F(AudioSettingsOnPulse, ChoosingTheServersSineSourceInTheWindowShowsItsToneInTheEngine) {
    const std::uint32_t source = sineSource();
    ASSERT_NE(source, 0u) << "the sine source is not listed";
    DeviceRegistry& registry = DeviceRegistry::shared();
    // A start on a silent input of our own, so the tone can only come from the server.
    koru::platform::VirtualInputConfig quiet;
    quiet.name = QStringLiteral("Quiet Input");
    quiet.channels = 1;
    quiet.channelSignals = {koru::platform::VirtualSignal::silence()};
    quiet.manual = true;
    const std::uint32_t silent = registry.addVirtualInput(quiet);

    {
        // Outlives the engine that feeds it.
        KOSpectrumAnalyzer analyzer(kFFTSize, koru::platform::fourCC("hann"));
        koru::test::AudioSettingsApp world(QStringLiteral("pulse-settings"));
        world.start();
        KOAudioSettingsWindow& window = world.window();
        ZOAudioInputDevicePopUpButton& devices = *window.audioInPopUpButton();
        ASSERT_TRUE(koru::test::chooseInPopUpByData(devices, silent));
        koru::test::flushEvents();
        ASSERT_EQ(world.device->audioObjectID(), silent);
        // A virtual input has no mixer of its own.
        EXPECT_TRUE(window.audioConfigurationAppButton()->isHidden());

        world.device->getKOAD()->AddClient(&analyzer);
        analyzer.SetChannel(0);

        ASSERT_TRUE(koru::test::chooseInPopUpByData(devices, source));
        koru::test::flushEvents();
        EXPECT_EQ(world.device->audioObjectID(), source);
        EXPECT_TRUE(world.device->UID().startsWith(QStringLiteral("pulse:")));
        EXPECT_EQ(devices.selectedObjectID(), source);
        EXPECT_TRUE(world.alerts->shown.empty()) << world.alerts->titles().join('|').toStdString();

        // Spectra of the server's audio only: the quiet input is never pumped.
        ASSERT_TRUE(koru::test::spinUntil([&] { return analyzer.Analyses() >= 4; }, 20000))
            << "the engine analysed " << analyzer.Analyses() << " blocks of the sine source";
        const std::vector<float> spectrum = koru::test::spectrumOf(analyzer);
        const double rate = world.device->nominalSampleRate();
        const double peakHz = koru::test::peakBin(spectrum) * rate / kFFTSize;
        EXPECT_LT(std::abs(peakHz - kToneHz), rate / kFFTSize)
            << "peak at " << peakHz << " Hz, rate " << rate;
        EXPECT_GT(spectrum[koru::test::peakBin(spectrum)], 0.01f);

        // The server's mixer is the device's configuration program.
        QPushButton& mixer = *window.audioConfigurationAppButton();
        EXPECT_FALSE(mixer.isHidden());
        EXPECT_FALSE(mixer.icon().isNull());
        QTest::mouseClick(&mixer, Qt::LeftButton);
        EXPECT_TRUE(koru::test::spinUntil([&] { return QFile::exists(mixerMark()); }, 10000))
            << "the mixer was not started";

        world.device->getKOAD()->RemoveClient(&analyzer);
    }
    registry.removeDevice(silent);
}

} // namespace
