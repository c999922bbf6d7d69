#include "engine/LogAlertPresenter.h"

#include "engine/KOAudioDevice.h"
#include "engine/KODataCollectorThread.h"
#include "platform/audio/DeviceRegistry.h"
#include "platform/log/Log.h"

#include <spdlog/sinks/ringbuffer_sink.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>

using koru::AlertPresenter;

namespace {

// Keeps the log lines written while it lives.
class LogLines {
public:
    LogLines() { koru::log::logger().sinks().push_back(mSink); }
    ~LogLines() {
        auto& sinks = koru::log::logger().sinks();
        sinks.erase(std::remove(sinks.begin(), sinks.end(), mSink), sinks.end());
    }
    int count(const std::string& text) const {
        const auto lines = mSink->last_formatted();
        return int(std::count_if(lines.begin(), lines.end(), [&](const std::string& line) {
            return line.find(text) != std::string::npos;
        }));
    }

private:
    std::shared_ptr<spdlog::sinks::ringbuffer_sink_mt> mSink =
        std::make_shared<spdlog::sinks::ringbuffer_sink_mt>(64);
};

class CountingAlerts : public AlertPresenter {
public:
    Response runModal(const koru::Alert&) override {
        ++shown;
        return Response::Default;
    }
    int shown = 0;
};

} // namespace

TEST(LogAlertPresenter, LogsEachAlertAndDeclinesIt) {
    const struct {
        const char* message;
        const char* informative;
        const char* alternate;
    } cases[] = {{"Can't change Audio Settings", "Stop recording and try again.", ""},
                 {"Error when changing Audio Device", "quit and relaunch", "Continue"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.message);
        koru::Alert alert;
        alert.messageText = QString::fromLatin1(c.message);
        alert.informativeText = QString::fromLatin1(c.informative);
        alert.defaultButton = QStringLiteral("Quit");
        alert.alternateButton = QString::fromLatin1(c.alternate);
        LogLines log;
        koru::LogAlertPresenter presenter;
        // Nobody clicked "Quit": a program nobody watches keeps running.
        EXPECT_EQ(presenter.runModal(alert), AlertPresenter::Response::Alternate);
        EXPECT_EQ(log.count(std::string(c.message) + " " + c.informative), 1);
    }
}

TEST(LogAlertPresenter, ADeviceWithoutADesktopLogsItsAlertsAndInfoLines) {
    const auto collector = KODataCollectorThread::createPrivate();
    KOAudioDevice::Services services;
    services.collector = collector.get();
    KOAudioDevice device(services);
    device.createAudioDevice(koru::platform::DeviceRegistry::shared().virtualInputDevice());
    ASSERT_NE(device.getKOAD(), nullptr);
    LogLines log;

    device.showSafeModeAlert();
    device.showAudioSettingsInInfoPanel();
    EXPECT_EQ(log.count("Can't change Audio Settings"), 1);
    EXPECT_EQ(log.count(device.name().toStdString() + " Sample Rate: "), 1);

    // A presenter taken away again leaves the alerts to the log.
    const auto counting = std::make_shared<CountingAlerts>();
    device.setAlertPresenter(counting);
    device.showSafeModeAlert();
    device.setAlertPresenter(nullptr);
    device.showSafeModeAlert();
    EXPECT_EQ(counting->shown, 1);
    EXPECT_EQ(log.count("Can't change Audio Settings"), 2);
}
