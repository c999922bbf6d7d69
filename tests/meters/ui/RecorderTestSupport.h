#pragma once

#include "engine/KOAudioDevice.h"
#include "engine/KODataCollectorThread.h"
#include "meters/ui/KORecordingsList.h"
#include "platform/audio/DeviceRegistry.h"
#include "support/TestSupport.h"

#include <QStringList>

#include <gtest/gtest.h>

namespace koru::test {

// The program's audio device on a manually pumped virtual input: four channels of known
// constant values, so a file shows which input each of its channels took.
class RecorderInput {
public:
    static constexpr double kRate = 48000.0;
    static constexpr std::uint32_t kBufferFrames = 1024;
    static constexpr float kValues[4] = {0.5f, -0.25f, 0.0f, 0.75f};

    static RecorderInput& shared() {
        static auto* input = new RecorderInput;
        return *input;
    }

    // Each buffer is followed by a whole collector pass.
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
    RecorderInput() {
        platform::VirtualInputConfig config;
        config.name = QStringLiteral("Recorder Constants");
        config.channels = 4;
        config.sampleRate = kRate;
        for (float value : kValues)
            config.channelSignals.push_back(platform::VirtualSignal::constant(value));
        config.manual = true;
        mDevice = platform::DeviceRegistry::shared().addVirtualInput(config);
        KOAudioDevice& device = KOAudioDevice::sharedAudioDevice();
        device.setAudioObjectID(mDevice);
        device.start();
        EXPECT_TRUE(device.isRunning()) << device.lastDeviceFailure().toStdString();
    }
    std::uint32_t mDevice = 0;
};

// The recordings list as the recorder sees it.
class ListedRecordings : public KORecordingsList {
public:
    void addRecording(const QString& path) override { paths << path; }
    QStringList paths;
};

} // namespace koru::test
