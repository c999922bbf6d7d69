#pragma once

#include "analysers/ui/AnalyserInstruments.h"
#include "app/InstrumentRegistry.h"
#include "app/KODataExporter.h"
#include "app/KODataExporting.h"
#include "engine/KOAudioDevice.h"
#include "engine/KODataCollectorThread.h"
#include "framework/KOInstrumentControllerDelegate.h"
#include "platform/audio/DeviceRegistry.h"
#include "support/QuietInstrumentDelegate.h"
#include "support/TestSupport.h"

#include <QFile>
#include <QTemporaryDir>
#include <QUrl>

#include <gtest/gtest.h>

#include <cmath>
#include <memory>

namespace koru::test {

// The program's audio device on a manually pumped virtual input of two channels at 48 kHz: a
// sine of amplitude 0.5 on the first channel, centred on bin 341 of a 16384-point FFT
// (999.0234375 Hz), and a quieter one (0.05) on bin 682 of the second. Every buffer is followed
// by a whole collector pass, so each spectrum is collected exactly once.
class SineInput {
public:
    static constexpr double kRate = 48000.0;
    static constexpr std::uint32_t kBufferFrames = 1024;
    static constexpr std::uint32_t kBin = 341;
    static constexpr float kAmplitude = 0.5f;
    static constexpr std::uint32_t kSecondBin = 682;
    static constexpr float kSecondAmplitude = 0.05f;
    static double frequencyOfBin(std::uint32_t bin, std::uint32_t size = 16384) {
        return bin * kRate / size;
    }

    // Made once per test program; the device stays the program's input.
    static SineInput& shared() {
        static auto* input = new SineInput;
        return *input;
    }

    void pump(std::uint32_t buffers) {
        auto& collector = KODataCollectorThread::sharedCollectorThread();
        for (std::uint32_t i = 0; i < buffers; ++i) {
            const std::uint64_t before = collector.passCount();
            ASSERT_TRUE(
                platform::DeviceRegistry::shared().virtualInput(mDevice)->pump(kBufferFrames));
            ASSERT_TRUE(spinUntil([&] {
                return collector.passCount() > before && collector.isIdle();
            })) << "the collector never finished its pass";
        }
    }

private:
    SineInput() {
        platform::VirtualInputConfig config;
        config.name = QStringLiteral("Analyser Sine");
        config.channels = 2;
        config.sampleRate = kRate;
        config.channelSignals = {
            platform::VirtualSignal::sine(frequencyOfBin(kBin), kAmplitude),
            platform::VirtualSignal::sine(frequencyOfBin(kSecondBin), kSecondAmplitude)};
        config.manual = true;
        mDevice = platform::DeviceRegistry::shared().addVirtualInput(config);
        KOAudioDevice& device = KOAudioDevice::sharedAudioDevice();
        device.setAudioObjectID(mDevice);
        device.start();
        EXPECT_TRUE(device.isRunning()) << device.lastDeviceFailure().toStdString();
    }
    std::uint32_t mDevice = 0;
};

// The analyser kinds as the program registers them.
inline InstrumentRegistry& analyserRegistry() {
    static auto* registry = [] {
        auto* made = new InstrumentRegistry;
        registerAnalyserInstruments(*made);
        return made;
    }();
    return *registry;
}

// The CSV text an export of `source` writes, or "" when it fails.
inline QString csvExport(const std::shared_ptr<KODataExporting>& source) {
    QTemporaryDir folder;
    const QString path = folder.filePath(QStringLiteral("export.csv"));
    auto exporter = KODataExporter::exporterWithDataSource(source);
    if (exporter->startExportCsvToURL(QUrl::fromLocalFile(path)))
        return {};
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

} // namespace koru::test
