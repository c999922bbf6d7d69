#pragma once

#include "PreferencesTestSupport.h"
#include "ScriptedUiPrompter.h"

#include "app/InstrumentRegistry.h"
#include "app/KOGrowlNotificationCenter.h"
#include "app/KOPreferences.h"
#include "app/ui/KOAppController.h"
#include "app/ui/KOAudioSettingsWindow.h"
#include "engine/AlertPresenter.h"
#include "engine/KOAudioDevice.h"
#include "engine/KOFloatBuffer.h"
#include "engine/KOSpectrumAnalyzer.h"
#include "platform/defaults/UserDefaults.h"
#include "platform/dispatch/SerialQueue.h"
#include "platform/fourcc/FourCC.h"

#include <QAbstractItemView>
#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QStyle>
#include <QStyleOptionButton>
#include <QTest>

#include <algorithm>
#include <memory>
#include <vector>

namespace koru::test {

// Keeps the device's alerts and answers "Continue" to the one that offers to quit.
class RecordingAlerts : public AlertPresenter {
public:
    Response runModal(const Alert& alert) override {
        shown.push_back(alert);
        return Response::Alternate;
    }
    QStringList titles() const {
        QStringList result;
        for (const Alert& alert : shown)
            result << alert.messageText;
        return result;
    }
    std::vector<Alert> shown;
};

// Picks an item of a pop-up as the user does: opens its list and clicks the row.
inline bool chooseInPopUp(QComboBox& popUp, int index) {
    if (index < 0 || index >= popUp.count())
        return false;
    popUp.showPopup();
    QAbstractItemView* view = popUp.view();
    const QRect row = view->visualRect(view->model()->index(index, popUp.modelColumn()));
    if (!row.isValid())
        return false;
    QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, row.center());
    return true;
}

inline bool chooseInPopUpByData(QComboBox& popUp, const QVariant& data) {
    return chooseInPopUp(popUp, popUp.findData(data));
}

// Clicks a check box on its box, where a click toggles it.
inline void clickCheckBox(QCheckBox& box) {
    QStyleOptionButton option;
    option.initFrom(&box);
    const QRect indicator =
        box.style()->subElementRect(QStyle::SE_CheckBoxIndicator, &option, &box);
    QTest::mouseClick(&box, Qt::LeftButton, {}, indicator.center());
}

inline void flushEvents() {
    for (int i = 0; i < 5; ++i)
        QCoreApplication::processEvents();
}

inline std::vector<float> spectrumOf(KOSpectrumAnalyzer& analyzer) {
    KOFloatBuffer destination(analyzer.FFTSize() / 2);
    analyzer.Collect(destination);
    return {destination.Data(), destination.Data() + destination.Length()};
}

inline std::uint32_t peakBin(const std::vector<float>& spectrum) {
    return std::uint32_t(std::max_element(spectrum.begin() + 1, spectrum.end()) - spectrum.begin());
}

// The application controller on a device of the test's own, started; the device's alerts are
// kept, the controller's questions answered by a script.
class AudioSettingsApp {
public:
    explicit AudioSettingsApp(const QString& stem) : defaults(freshDefaultsPath(stem)) {}
    ~AudioSettingsApp() {
        queue.waitUntilIdle();
        app.reset();
        if (device->getKOAD() && device->inSafeMode())
            device->getKOAD()->LeaveSafeMode();
        device->stop();
    }

    KOAppController& start() {
        KOAppController::Services services;
        services.defaults = &defaults;
        services.preferences = &preferences;
        services.audioDevice = device.get();
        services.registry = &registry;
        services.backgroundQueue = &queue;
        services.notifications = &notifications;
        services.bus = QDBusConnection(QStringLiteral("no bus"));
        services.quit = [this] { ++quits; };
        app = std::make_unique<KOAppController>(std::move(services));
        app->awakeFromNib();
        app->showAudioSettingsWindow();
        return *app;
    }
    KOAudioSettingsWindow& window() const { return *app->audioSettingsWindow(); }

    ScopedScriptedPrompter prompter;
    platform::UserDefaults defaults;
    KOGrowlNotificationCenter notifications{std::make_unique<DiscardingSink>(), defaults};
    KOPreferences preferences{defaults, notifications};
    std::shared_ptr<RecordingAlerts> alerts = std::make_shared<RecordingAlerts>();
    std::unique_ptr<KOAudioDevice> device = [this] {
        KOAudioDevice::Services services;
        services.alerts = alerts;
        services.quit = [this] { ++quits; };
        return std::make_unique<KOAudioDevice>(services);
    }();
    InstrumentRegistry registry;
    platform::SerialQueue queue{"test background"};
    std::unique_ptr<KOAppController> app;
    int quits = 0;
};

} // namespace koru::test
