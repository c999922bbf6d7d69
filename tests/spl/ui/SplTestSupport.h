#pragma once

#include "app/InstrumentRegistry.h"
#include "engine/KOAudioDevice.h"
#include "engine/KODataCollectorThread.h"
#include "framework/KOInstrumentControllerDelegate.h"
#include "platform/audio/DeviceRegistry.h"
#include "platform/desktop/NotificationSink.h"
#include "spl/KOWeightingBuffer.h"
#include "spl/ui/SplInstruments.h"
#include "support/QuietInstrumentDelegate.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <cmath>
#include <mutex>
#include <vector>

namespace koru::test {

// Notifications as the desktop would receive them.
class RecordingSink : public platform::NotificationSink {
public:
    void post(const platform::UserNotification& notification) override {
        const std::lock_guard lock(mutex);
        posted.push_back(notification);
    }
    void removeAll() override {}
    void setClickHandler(ClickHandler) override {}
    std::vector<platform::UserNotification> notifications() const {
        const std::lock_guard lock(mutex);
        return posted;
    }

private:
    mutable std::mutex mutex;
    std::vector<platform::UserNotification> posted;
};

// The program's audio device on a manually pumped virtual input at 48 kHz with sines of known
// amplitude, each centred on a bin of both the fast (8192) and the slow (65536) transform, and
// a silent channel. Every buffer is followed by a whole collector pass.
class SplInput {
public:
    static constexpr double kRate = 48000.0;
    static constexpr std::uint32_t kBufferFrames = 1024;
    struct Tone {
        double frequency;
        double amplitude;
    };
    // Channel i carries kTones[i]; the last channel is silent.
    static constexpr Tone kTones[] = {
        {170 * kRate / 8192, 0.5}, {17 * kRate / 8192, 0.1}, {684 * kRate / 8192, 0.05}};
    static constexpr std::uint32_t kSilentChannel = 3;

    static SplInput& shared() {
        static auto* input = new SplInput;
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

    // The meter's uncalibrated level of a tone: mean square + 9.03 dB through the weighting.
    static double weightedLevel(const Tone& tone, std::uint32_t weighting);

private:
    SplInput() {
        platform::VirtualInputConfig config;
        config.name = QStringLiteral("SPL Sines");
        config.channels = 4;
        config.sampleRate = kRate;
        for (const Tone& tone : kTones)
            config.channelSignals.push_back(
                platform::VirtualSignal::sine(tone.frequency, float(tone.amplitude)));
        config.channelSignals.push_back(platform::VirtualSignal::silence());
        config.manual = true;
        mDevice = platform::DeviceRegistry::shared().addVirtualInput(config);
        KOAudioDevice& device = KOAudioDevice::sharedAudioDevice();
        device.setAudioObjectID(mDevice);
        device.start();
        EXPECT_TRUE(device.isRunning()) << device.lastDeviceFailure().toStdString();
    }
    std::uint32_t mDevice = 0;
};

inline double SplInput::weightedLevel(const Tone& tone, std::uint32_t weighting) {
    double power = a_weighting_power(tone.frequency);
    if (weighting == 0x625f7774) // 'b_wt'
        power = b_weighting_power(tone.frequency);
    else if (weighting == 0x635f7774) // 'c_wt'
        power = c_weighting_power(tone.frequency);
    return 10.0 * std::log10(4.0 * tone.amplitude * tone.amplitude * power);
}

inline InstrumentRegistry& splRegistry() {
    static auto* registry = [] {
        auto* made = new InstrumentRegistry;
        registerSplInstruments(*made);
        return made;
    }();
    return *registry;
}

} // namespace koru::test
