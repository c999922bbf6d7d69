#include "SplTestSupport.h"

#include "app/InstrumentList.h"
#include "app/InstrumentListHost.h"
#include "app/KOGrowlNotificationCenter.h"
#include "app/LogCapture.h"
#include "app/ScriptedUiPrompter.h"
#include "framework/ZOSuppressableAlert.h"
#include "platform/defaults/UserDefaults.h"
#include "platform/dispatch/KOBackgroundQueue.h"
#include "platform/fourcc/FourCC.h"
#include "platform/paths/Paths.h"
#include "platform/plist/PropertyList.h"
#include "spl/KOCalibrationStore.h"
#include "spl/KOSPLLog.h"
#include "spl/KOSPLLogStore.h"
#include "spl/KOSplDocuments.h"
#include "spl/ui/KOSPLHistoryView.h"
#include "spl/ui/KOSPLLogExportSource.h"
#include "spl/ui/KOSplController.h"
#include "utility/KOString.h"

#include <QAction>
#include <QCoreApplication>
#include <QMainWindow>
#include <QMenu>
#include <QPushButton>
#include <QSlider>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>

using koru::platform::fourCC;
using koru::platform::PlistFormat;
using koru::platform::PropertyList;
using koru::test::LogCapture;
using koru::test::SplInput;

namespace {

constexpr std::uint32_t kA = fourCC("a_wt");
constexpr std::uint32_t kB = fourCC("b_wt");
constexpr std::uint32_t kC = fourCC("c_wt");
constexpr std::uint32_t kSlow = fourCC("slow");
constexpr std::uint32_t kFast = fourCC("fast");
// The whole chain against the weighting formulas for bin-centred tones.
constexpr double kTolerance = 0.1;

class SplMeter : public ::testing::Test {
protected:
    void SetUp() override { SplInput::shared(); }

    std::unique_ptr<KOSplController> restore(const QVariantMap& dictionary) {
        auto made = koru::test::splRegistry().createFromDictionary(dictionary, &delegate);
        auto* meter = dynamic_cast<KOSplController*>(made.get());
        EXPECT_NE(meter, nullptr);
        if (!meter)
            return nullptr;
        made.release();
        return std::unique_ptr<KOSplController>(meter);
    }
    std::unique_ptr<KOSplController> make() {
        return KOInstrumentController::create<KOSplController>(KOSplController::kNibName, nullptr,
                                                               &delegate);
    }
    static QVariantMap settings(std::uint32_t weighting, std::uint32_t speed, qint64 channel,
                                double calibration) {
        return {{KOInstrumentController::kTypeKey, QStringLiteral("KOSplController")},
                {KOSplController::kWeightingKey, qint64(weighting)},
                {KOSplController::kSpeedKey, qint64(speed)},
                {KOSplController::kInputChannelKey, channel},
                {KOSplController::kCalibKey, calibration},
                {KOSplController::kCalibratedDeviceKey, QStringLiteral("SPL Sines")}};
    }
    // Pumps until the meter shows a level, then a few more spectra so it is steady.
    static void settle(KOSplController& meter) {
        for (int i = 0; i < 600 && meter.statisticsSnapshot().primary == 0.0f; ++i)
            SplInput::shared().pump(1);
        ASSERT_NE(meter.statisticsSnapshot().primary, 0.0f) << "the meter never showed a level";
        // A whole window of the present signal, then three more spectra.
        SplInput::shared().pump(meter.instrumentSpeed() == kSlow ? 64 + 24 : 8 + 3);
        QCoreApplication::processEvents();
    }
    static float shown(KOSplController& meter) { return meter.splView()->values().primary; }

    koru::test::QuietDelegate delegate;
};

// Displayed levels are the calibration plus the weighted level, for every weighting, speed,
// amplitude and frequency; the statistics of a steady tone agree with it.
TEST_F(SplMeter, DisplayedLevelsAreTheCalibrationPlusTheWeightedLevel) {
    for (std::uint32_t speed : {kSlow, kFast}) {
        for (std::uint32_t weighting : {kA, kB, kC}) {
            for (qint64 channel = 0; channel < 3; ++channel) {
                const double calibration = channel == 2 ? 120.0 : 94.0;
                SCOPED_TRACE(testing::Message()
                             << koru::platform::fourCCToString(weighting).toStdString() << " "
                             << koru::platform::fourCCToString(speed).toStdString() << " channel "
                             << channel);
                auto meter = restore(settings(weighting, speed, channel, calibration));
                ASSERT_NE(meter, nullptr);
                EXPECT_EQ(meter->weighting(), weighting);
                EXPECT_EQ(meter->instrumentSpeed(), speed);
                EXPECT_TRUE(meter->calibrated());
                settle(*meter);
                const double expected =
                    calibration + SplInput::weightedLevel(SplInput::kTones[channel], weighting);
                EXPECT_NEAR(shown(*meter), expected, kTolerance);
                const auto values = meter->statisticsSnapshot();
                EXPECT_NEAR(values.avg, expected, kTolerance);
                EXPECT_NEAR(values.leq, expected, kTolerance);
                EXPECT_NEAR(meter->currentSPL(), expected, kTolerance);
                EXPECT_EQ(meter->splView()->levelText(),
                          QString::asprintf("%.1f dB", double(shown(*meter))));
            }
        }
    }
}

// Calibrating against a reference tone makes it read the reference; every other tone then reads
// the offset plus its own weighted level. Silence gives no offset.
TEST_F(SplMeter, CalibrationToAReferenceAppliesToEveryLevel) {
    QTemporaryDir folder;
    KOCalibrationStore store(folder.path());
    auto meter = restore(settings(kA, kFast, 0, 0.0));
    ASSERT_NE(meter, nullptr);
    meter->setCalibrationStore(&store);
    EXPECT_FALSE(meter->calibrated());
    EXPECT_EQ(meter->selectedSPLCalibrationValue(), 94);
    EXPECT_EQ(meter->selectedSPLCalibrationTextValue(), 80);
    EXPECT_EQ(meter->calibrationSliderLevel(), 0.0f); // restored with the offset
    SplInput::shared().pump(20);

    const struct {
        const char* how;
        int reference;
        int typed;
        float slider;
        bool toSlider;
        double offset; // NaN: reference minus the level
        double reads;
    } cases[] = {
        {"reference", 94, 80, 0, false, std::nan(""), 94.0},
        {"typed value", 0, 80, 0, false, std::nan(""), 80.0},
        {"slider", 94, 80, 50, true, 50.0, 50.0 + SplInput::weightedLevel(SplInput::kTones[0], kA)},
    };
    const QString device = KOAudioDevice::sharedAudioDevice().name();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.how);
        meter->setInputChannel(0);
        meter->setSelectedSPLCalibrationValue(c.reference);
        meter->setSelectedSPLCalibrationTextValue(c.typed);
        meter->setCalibrationSliderLevel(c.slider);
        meter->setSaveInCalibrationDatabase(true);
        SplInput::shared().pump(12);
        ASSERT_TRUE(c.toSlider ? meter->performCalibrationToSliderLevel()
                               : meter->performCalibrationWithPreselectedValue());
        if (!std::isnan(c.offset)) {
            EXPECT_EQ(meter->calibrationValue(), float(c.offset));
        }
        EXPECT_TRUE(meter->calibrated());
        EXPECT_EQ(meter->calibratedDeviceName(), device);
        meter->resetAll();
        settle(*meter);
        EXPECT_NEAR(shown(*meter), c.reads, kTolerance);

        meter->setInputChannel(1);
        settle(*meter);
        EXPECT_NEAR(shown(*meter),
                    meter->calibrationValue() + SplInput::weightedLevel(SplInput::kTones[1], kA),
                    kTolerance);
    }
    const auto stored = store.calibrations();
    ASSERT_EQ(stored.size(), 3u);
    EXPECT_EQ(stored[2]->calibrationValue(), 50.0f);
    EXPECT_EQ(stored[2]->audioDeviceName(), device);
    EXPECT_EQ(stored[2]->notes(), "No information given.");

    // Silence reads minus infinity: no offset comes of it.
    const float before = meter->calibrationValue();
    meter->setInputChannel(SplInput::kSilentChannel);
    SplInput::shared().pump(20);
    LogCapture log;
    meter->setSelectedSPLCalibrationValue(94);
    EXPECT_FALSE(meter->performCalibrationWithPreselectedValue());
    EXPECT_FALSE(meter->setCalibrationValue(250.0f));
    EXPECT_FALSE(meter->setCalibrationValue(std::nanf("")));
    EXPECT_EQ(meter->calibrationValue(), before);
    // From the panel, the refusal is an alert.
    koru::test::ScriptedUiPrompter prompter;
    koru::setUiPrompter(&prompter);
    QPushButton* calibrate = nullptr;
    for (QPushButton* button : meter->controlViewController()->findChildren<QPushButton*>())
        if (button->text() == "Calibrate")
            calibrate = button;
    ASSERT_NE(calibrate, nullptr);
    calibrate->click();
    koru::setUiPrompter(nullptr);
    ASSERT_EQ(prompter.alerts.size(), 1u);
    EXPECT_EQ(prompter.alerts[0].messageText, "Calibration failed");
    EXPECT_EQ(log.count("no signal to calibrate against"), 2);
    EXPECT_EQ(log.count("was not applied"), 2);
    EXPECT_EQ(store.countOfCalibrations(), 3);

    // A stored calibration is taken as it is, and nothing is added to the store.
    meter->performCalibrationFromDictionary(stored[0]);
    EXPECT_EQ(meter->calibrationValue(), stored[0]->calibrationValue());
    EXPECT_TRUE(meter->calibrated());
    EXPECT_EQ(store.countOfCalibrations(), 3);
}

// Damaged or foreign calibrations from a session: the meter reads uncalibrated (offset 0) or
// applies the offset but shows "UNCALIBRATED", each time with a log line.
TEST_F(SplMeter, RestoredCalibrationsOutOfRangeOrOfAnotherDeviceTakeTheDefault) {
    const struct {
        const char* what;
        QVariant calibration;
        QVariant device;
        QVariant uid;
        float offset;
        bool calibrated;
        const char* logged;
    } cases[] = {
        {"too large", 1e9, "SPL Sines", QVariant(), 0.0f, false, "outside"},
        {"negative", -5.0, "SPL Sines", QVariant(), 0.0f, false, "outside"},
        {"not a number", std::nan(""), "SPL Sines", QVariant(), 0.0f, false, "not a usable"},
        {"text", QStringLiteral("94"), "SPL Sines", QVariant(), 0.0f, false, "not a usable"},
        {"another device", 94.0, "Other Device", "other-uid", 94.0f, false,
         "not for the current device"},
        {"no device", 94.0, QVariant(), QVariant(), 94.0f, false, "not for the current device"},
        {"same device", 94.0, "SPL Sines", QVariant(), 94.0f, true, nullptr},
        {"same UID", 94.0, "Renamed", KOAudioDevice::sharedAudioDevice().UID(), 94.0f, true,
         nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        QVariantMap dictionary = settings(kA, kFast, 0, 0.0);
        dictionary.insert(KOSplController::kCalibKey, c.calibration);
        dictionary.remove(KOSplController::kCalibratedDeviceKey);
        if (c.device.isValid())
            dictionary.insert(KOSplController::kCalibratedDeviceKey, c.device);
        if (c.uid.isValid())
            dictionary.insert(KOSplController::kCalibratedDeviceUUIDKey, c.uid);
        LogCapture log;
        auto meter = restore(dictionary);
        ASSERT_NE(meter, nullptr);
        EXPECT_EQ(meter->calibrationValue(), c.offset);
        EXPECT_EQ(meter->calibrated(), c.calibrated);
        EXPECT_EQ(meter->splView()->calibrated(), c.calibrated);
        if (c.logged) {
            EXPECT_GE(log.count(c.logged), 1);
        }
        if (c.offset != 0.0f) {
            settle(*meter);
            EXPECT_NEAR(shown(*meter), 94.0 + SplInput::weightedLevel(SplInput::kTones[0], kA),
                        kTolerance);
        }
    }
}

// Damaged settings from a session take their defaults, each with a log line; a channel the
// device does not have is clamped to its last one.
TEST_F(SplMeter, DamagedSettingsTakeTheirDefaults) {
    const struct {
        const char* what;
        const char* key;
        QVariant value;
        std::uint32_t weighting;
        std::uint32_t speed;
        qint64 channel;
        double avgTime;
        const char* logged;
    } cases[] = {
        {"unknown weighting", KOSplController::kWeightingKey, qint64(fourCC("d_wt")), kA, kSlow, 0,
         0.5, "unknown weighting"},
        {"negative weighting", KOSplController::kWeightingKey, -1, kA, kSlow, 0, 0.5,
         "not a usable number"},
        {"text weighting", KOSplController::kWeightingKey, QStringLiteral("c_wt"), kA, kSlow, 0,
         0.5, "not a usable number"},
        {"other speed", KOSplController::kSpeedKey, qint64(fourCC("expo")), kA, kFast, 0, 0.5,
         nullptr},
        {"huge speed", KOSplController::kSpeedKey, 1e30, kA, kSlow, 0, 0.5, "not a usable number"},
        {"channel beyond the device", KOSplController::kInputChannelKey, 40, kA, kSlow, 3, 0.5,
         "there is no input channel 40"},
        {"negative channel", KOSplController::kInputChannelKey, -3, kA, kSlow, 0, 0.5, nullptr},
        {"averaging NaN", KOSplController::kAvgTimeKey, std::nan(""), kA, kSlow, 0, 0.5,
         "not a usable number"},
        {"averaging 0", KOSplController::kAvgTimeKey, 0.0, kA, kSlow, 0, 0.5, "averaging time"},
        {"averaging missing", KOSplController::kAvgTimeKey, QVariant(), kA, kSlow, 0, 0.5, nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        QVariantMap dictionary{{KOInstrumentController::kTypeKey, "KOSplController"}};
        if (c.value.isValid())
            dictionary.insert(c.key, c.value);
        LogCapture log;
        auto meter = restore(dictionary);
        ASSERT_NE(meter, nullptr);
        EXPECT_EQ(meter->weighting(), c.weighting);
        EXPECT_EQ(meter->instrumentSpeed(), c.speed);
        EXPECT_EQ(meter->inputChannel(), c.channel);
        EXPECT_EQ(meter->avgTime(), c.avgTime);
        if (c.logged) {
            EXPECT_GE(log.count(c.logged), 1);
        }
    }
}

// One notification per upward crossing, and the notification centre's one-minute limit on top.
TEST_F(SplMeter, TheAlarmFiresOncePerCrossingAndReachesTheDesktopAtItsRate) {
    auto sink = std::make_unique<koru::test::RecordingSink>();
    koru::test::RecordingSink* posted = sink.get();
    std::chrono::steady_clock::time_point clock{};
    koru::platform::UserDefaults defaults(koru::test::testRoot() + "/alarm-defaults.plist");
    KOGrowlNotificationCenter center(std::move(sink), defaults, [&clock] { return clock; });

    auto meter = restore(settings(kA, kFast, 0, 94.0));
    ASSERT_NE(meter, nullptr);
    meter->setNotificationCenter(&center);
    settle(*meter);
    const float level = shown(*meter);
    const auto crossings = [&] {
        SplInput::shared().pump(4);
        KOBackgroundQueue()->waitUntilIdle();
        return posted->notifications().size();
    };

    meter->setSplAlertLevel(level - 10.0f);
    meter->setShouldAlert(true);
    EXPECT_EQ(crossings(), 1u);
    const auto first = posted->notifications().front();
    EXPECT_EQ(first.title, KOGrowlNotificationCenter::kSPLTitle);
    EXPECT_EQ(first.body, QString::asprintf("SPL exceeded %.0fdB", double(level - 10.0f)));

    // Staying above raises nothing more, however long it lasts.
    clock += std::chrono::seconds(120);
    EXPECT_EQ(crossings(), 1u);

    // Falling below re-arms and the next crossing posts; one within the minute after that post
    // is held back by the centre, one after it goes out.
    meter->setSplAlertLevel(level + 10.0f);
    EXPECT_EQ(crossings(), 1u);
    meter->setSplAlertLevel(level - 10.0f);
    EXPECT_EQ(crossings(), 2u);
    meter->setSplAlertLevel(level + 10.0f);
    EXPECT_EQ(crossings(), 2u);
    clock += std::chrono::seconds(30);
    meter->setSplAlertLevel(level - 10.0f);
    EXPECT_EQ(crossings(), 2u);
    meter->setSplAlertLevel(level + 10.0f);
    EXPECT_EQ(crossings(), 2u);
    clock += std::chrono::seconds(31);
    meter->setSplAlertLevel(level - 10.0f);
    EXPECT_EQ(crossings(), 3u);

    // Switched off, a crossing posts nothing.
    meter->setSplAlertLevel(level + 10.0f);
    crossings();
    meter->setShouldAlert(false);
    clock += std::chrono::seconds(120);
    meter->setSplAlertLevel(level - 10.0f);
    EXPECT_EQ(crossings(), 3u);
}

// A meter saved to a session file and restored from it saves the same dictionary again.
TEST_F(SplMeter, ASessionRoundTripKeepsEverySetting) {
    for (const char* locale : {"C", "de_DE.UTF-8"}) {
        SCOPED_TRACE(locale);
        koru::test::ScopedLocale scoped(locale);
        if (!scoped.active())
            GTEST_SKIP() << locale << " is not available";
        auto meter = restore(settings(kC, kFast, 2, 101.5));
        ASSERT_NE(meter, nullptr);
        meter->setName(QStringLiteral("SPL Meter 1"));
        meter->setAvgTime(30.0);
        meter->setLeqTimerDuration(300.0);
        meter->setShouldAlert(true);
        meter->setSplAlertLevel(85.5f);
        meter->historyView()->setDrawAVG(true);
        meter->historyView()->setSpeed(0.25);
        meter->historyView()->setLeqColor(QColor::fromRgbF(0.25f, 0.5f, 0.75f, 1.0f));
        KOSplBigWindowController* big = meter->openBigWindow();
        big->setDisplayMode(KOSplBigView::kPeak);
        big->setAlertLevel(120.5f);
        big->setWarningLevel(95.0f);
        big->view()->setWarningColor(QColor::fromRgbF(0.5f, 0.25f, 1.0f, 1.0f));
        QVariantMap saved = meter->dictionaryRepresentation();

        QTemporaryDir folder;
        const QString path = folder.filePath(QStringLiteral("meter.kosession"));
        ASSERT_TRUE(PropertyList::write(path, saved, PlistFormat::Xml));
        const auto read = PropertyList::read(path);
        ASSERT_TRUE(read.ok()) << read.error.toStdString();
        auto restored = restore(read.value.toMap());
        ASSERT_NE(restored, nullptr);
        QVariantMap again = restored->dictionaryRepresentation();
        EXPECT_EQ(again.value(KOInstrumentController::kNameKey).toString(), "SPL Meter 1");
        EXPECT_EQ(again.value(KOSplController::kCalibKey).toDouble(), 101.5);
        EXPECT_EQ(again.value(KOSplController::kLeqDurationKey).toDouble(), 300.0);
        EXPECT_EQ(restored->inputChannel(), 2);
        EXPECT_EQ(restored->weighting(), kC);
        EXPECT_EQ(restored->instrumentSpeed(), kFast);
        EXPECT_TRUE(restored->historyView()->drawAVG());
        EXPECT_DOUBLE_EQ(restored->historyView()->speed(), 0.25);
        ASSERT_EQ(restored->countOfBigWindows(), 1u);
        KOSplBigWindowController* bigAgain = restored->bigWindowAtIndex(0);
        EXPECT_EQ(bigAgain->displayMode(), KOSplBigView::kPeak);
        EXPECT_EQ(bigAgain->alertLevel(), 120.5f);
        EXPECT_EQ(bigAgain->warningLevel(), 95.0f);
        EXPECT_EQ(bigAgain->view()->warningColor(), QColor::fromRgbF(0.5f, 0.25f, 1.0f, 1.0f));
        // The window's place is the window system's to decide offscreen.
        for (QVariantMap* d : {&again, &saved}) {
            d->remove(KOInstrumentController::kWindowFrameKey);
            QVariantList bigWindows = d->value(KOSplController::kBigWindowControllersKey).toList();
            for (QVariant& entry : bigWindows) {
                QVariantMap map = entry.toMap();
                map.remove(KOSplBigWindowController::kFrameKey);
                entry = map;
            }
            d->insert(KOSplController::kBigWindowControllersKey, bigWindows);
        }
        EXPECT_EQ(again, saved);
    }
}

// Once a second the read-out shows the time since the last LEQ reset and, with a period, the time
// to the next one and the predicted LEQ; without a period neither.
TEST_F(SplMeter, TheReadoutCountsTheLeqPeriod) {
    auto meter = restore(settings(kA, kFast, 0, 94.0));
    ASSERT_NE(meter, nullptr);
    double clock = 1000.0;
    meter->setClock([&clock] { return clock; });
    meter->setLeqTimerDuration(1800.0);
    clock = 1065.4;
    meter->updateViewLEQRunTime();
    EXPECT_EQ(meter->splView()->leqRunTimeString(), "1min 05sec");
    EXPECT_EQ(meter->splView()->nextLEQResetTimeString(), "(28min 55sec)");
    EXPECT_NEAR(meter->currentLeqRunTime(), 65.4, 1e-9);
    settle(*meter);
    EXPECT_TRUE(meter->splView()->leqText().endsWith(
        QString::asprintf("(%.0f)", double(meter->statisticsSnapshot().prediction))));

    meter->setLeqTimerDuration(-1.0);
    clock = 1070.0;
    meter->updateViewLEQRunTime();
    EXPECT_EQ(meter->splView()->leqRunTimeString(), "4sec");
    EXPECT_EQ(meter->splView()->nextLEQResetTimeString(), std::nullopt);
    EXPECT_TRUE(meter->splView()->leqText().endsWith("(-)"));
    EXPECT_FALSE(meter->leqResetTimer().isActive());
}

QAction* itemWithTag(const QMenu& menu, qint64 tag) {
    for (QAction* item : menu.actions())
        if (item->data().toLongLong() == tag)
            return item;
    return nullptr;
}

QStringList checkedTitles(const QMenu& menu) {
    QStringList titles;
    for (QAction* item : menu.actions())
        if (item->isChecked())
            titles << item->text();
    return titles;
}

// The instrument menu says what the next choice does and checks what is in force; export is
// offered only with a minute of log.
TEST_F(SplMeter, TheMenuFollowsTheMetersState) {
    auto meter = restore(settings(kB, kFast, 0, 94.0));
    ASSERT_NE(meter, nullptr);
    QMenu* menu = meter->instrumentMenu();
    ASSERT_NE(menu, nullptr);
    const auto update = [&] { meter->updateInstrumentMenu(menu); };
    meter->setAvgTime(120.0);
    meter->setLeqTimerDuration(5000.0);
    update();
    EXPECT_EQ(itemWithTag(*menu, KOSplController::kLoggingTag)->text(), "Start Logging");
    EXPECT_EQ(itemWithTag(*menu, KOSplController::kLogAreaTag)->text(), "Show Log Area");
    EXPECT_FALSE(itemWithTag(*menu, fourCC("expo"))->isEnabled());
    EXPECT_TRUE(itemWithTag(*menu, kFast)->isChecked());
    EXPECT_FALSE(itemWithTag(*menu, kSlow)->isChecked());
    const auto submenu = [&](qint64 tag) { return itemWithTag(*menu, tag)->menu(); };
    EXPECT_EQ(checkedTitles(*submenu(KOSplController::kWeightingSubmenuTag)),
              QStringList{"B-Weighted"});
    EXPECT_EQ(checkedTitles(*submenu(KOSplController::kAverageSubmenuTag)), QStringList{"2 min"});
    EXPECT_EQ(checkedTitles(*submenu(KOSplController::kLeqSubmenuTag)), QStringList{"30 min"});
    EXPECT_EQ(submenu(KOSplController::kAverageSubmenuTag)->actions().size(), 11);
    EXPECT_EQ(submenu(KOSplController::kLeqSubmenuTag)->actions().size(), 8);

    // Choosing from the menus acts on the meter.
    itemWithTag(*submenu(KOSplController::kLeqSubmenuTag), -1)->trigger();
    itemWithTag(*submenu(KOSplController::kWeightingSubmenuTag), kC)->trigger();
    itemWithTag(*menu, kSlow)->trigger();
    itemWithTag(*menu, KOSplController::kLoggingTag)->trigger();
    itemWithTag(*menu, KOSplController::kLogAreaTag)->trigger();
    update();
    EXPECT_EQ(meter->leqTimerDuration(), -1.0);
    EXPECT_EQ(checkedTitles(*submenu(KOSplController::kLeqSubmenuTag)), QStringList{"inf"});
    EXPECT_EQ(meter->weighting(), kC);
    EXPECT_EQ(meter->instrumentSpeed(), kSlow);
    EXPECT_TRUE(meter->logging());
    EXPECT_EQ(itemWithTag(*menu, KOSplController::kLoggingTag)->text(), "Stop Logging");
    EXPECT_EQ(itemWithTag(*menu, KOSplController::kLogAreaTag)->text(), "Hide Log Area");
    meter->setLogging(false);
}

// The log area widens the window within 461..761 points and narrowing gives exactly 281; the
// width shown last comes back, or 150 points when less than 80 were shown.
TEST_F(SplMeter, TheLogAreaRemembersItsWidth) {
    auto meter = restore(settings(kA, kFast, 0, 94.0));
    ASSERT_NE(meter, nullptr);
    QMainWindow* window = meter->instrumentWindow();
    window->show();
    ASSERT_EQ(window->width(), 281);
    meter->setLoggingViewVisible(true);
    EXPECT_TRUE(meter->loggingViewVisible());
    EXPECT_EQ(window->minimumSize(), QSize(461, 221));
    EXPECT_EQ(window->maximumSize(), QSize(761, 221));
    EXPECT_EQ(window->width(), 461); // 281 + 150, within the limits
    window->resize(700, 221);
    QCoreApplication::processEvents();
    meter->setLoggingViewVisible(false);
    EXPECT_EQ(window->width(), 281);
    EXPECT_EQ(window->maximumSize(), QSize(281, 221));
    meter->setLoggingViewVisible(true);
    EXPECT_EQ(window->width(), 700);
    EXPECT_TRUE(
        meter->dictionaryRepresentation().value(KOSplController::kLogViewVisibleKey).toBool());

    // Closing ends both timers.
    meter->setLoggingViewVisible(false);
    EXPECT_TRUE(meter->loggingTimer().isActive());
    EXPECT_TRUE(window->close());
    EXPECT_FALSE(meter->loggingTimer().isActive());
    EXPECT_FALSE(meter->leqResetTimer().isActive());
}

class ListHost : public koru::InstrumentListHost {
public:
    explicit ListHost(KOInstrumentControllerDelegate& delegate) : mDelegate(delegate) {}
    KOInstrumentControllerDelegate* instrumentDelegate() override { return &mDelegate; }
    void showInstrumentWindow(KOInstrumentController&) override {}
    void resignCurrentInstrument(KOInstrumentController&) override {}
    void reloadTables() override {}
    void reloadOpenInstrumentsTable() override {}

private:
    KOInstrumentControllerDelegate& mDelegate;
};

// Added through the registry as the Instruments menu does: "SPL Meter 1", then the first number
// no open meter uses; a restored meter keeps its saved name.
TEST_F(SplMeter, MetersAddedThroughTheRegistryAreNamedUniquely) {
    ListHost host(delegate);
    koru::InstrumentList list(koru::test::splRegistry(), host);
    EXPECT_TRUE(koru::test::splRegistry().contains("KOSplController"));
    KOInstrumentController* first = list.addSPLMeter();
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(first->name(), "SPL Meter 1");
    EXPECT_EQ(first->typeName(), "KOSplController");
    EXPECT_TRUE(first->isInDataCollectorThread());
    QVariantMap saved = first->dictionaryRepresentation();
    saved.insert(KOInstrumentController::kNameKey, QStringLiteral("SPL Meter 2"));
    saved.remove(KOInstrumentController::kIdentifierKey);
    KOInstrumentController* restored = list.restoreInstrumentFromDictionary(saved);
    ASSERT_NE(restored, nullptr);
    EXPECT_EQ(restored->name(), "SPL Meter 2");
    EXPECT_EQ(list.addSPLMeter()->name(), "SPL Meter 3");
}

TEST_F(SplMeter, ANewMeterStartsSlowAWeightedWithTheAlarmAt80AndHalfAnHourOfLeq) {
    auto meter = make();
    // The warning comes as a sheet on the meter's window, unless the user suppressed it.
    auto* warning = meter->instrumentWindow()->findChild<ZOSuppressableAlert*>();
    ASSERT_NE(warning, nullptr);
    EXPECT_EQ(warning->text(), "This SPL Meter does not meet standards");
    EXPECT_EQ(warning->informativeText(),
              "This Soundpressure Level Meter may not meet the legal requirements of your local "
              "authorities.");
    EXPECT_EQ(warning->suppressionIdentifier(), "SPLMETER_Legal");
    EXPECT_EQ(restore(settings(kA, kSlow, 0, 94.0))
                  ->instrumentWindow()
                  ->findChild<ZOSuppressableAlert*>(),
              nullptr);
    EXPECT_EQ(meter->instrumentSpeed(), kSlow);
    EXPECT_EQ(meter->weighting(), kA);
    EXPECT_EQ(meter->avgTime(), 5.0);
    EXPECT_EQ(meter->splAlertLevel(), 80.0f);
    EXPECT_FALSE(meter->shouldAlert());
    EXPECT_EQ(meter->leqTimerDuration(), 1800.0);
    EXPECT_TRUE(meter->leqResetTimer().isActive());
    EXPECT_EQ(meter->leqResetTimer().interval(), 1800 * 1000);
    EXPECT_FALSE(meter->calibrated());
    EXPECT_TRUE(meter->isInDataCollectorThread());
    EXPECT_EQ(meter->instrumentWindow()->maximumSize(), QSize(281, 221));

    // The zoom slider shows 1/speed and sets it.
    QSlider* zoom = meter->loggingViewZoomSlider();
    ASSERT_NE(zoom, nullptr);
    EXPECT_EQ(zoom->minimum(), 1);
    EXPECT_EQ(zoom->maximum(), 180);
    zoom->setValue(20);
    EXPECT_DOUBLE_EQ(meter->historyView()->speed(), 1.0 / 20);
    meter->historyView()->setSpeed(0.1);
    EXPECT_EQ(zoom->value(), 10);

    const struct {
        double asked;
        double duration;
        bool timer;
    } leq[] = {{1, -1, false}, {5000, 1800, true}, {0, -1, false}, {30, 30, true}};
    for (const auto& c : leq) {
        SCOPED_TRACE(c.asked);
        meter->setLeqTimerDuration(c.asked);
        EXPECT_EQ(meter->leqTimerDuration(), c.duration);
        EXPECT_EQ(meter->leqResetTimer().isActive(), c.timer);
    }
}

// Once a second the maxima go to the log, but only when all three reach 10 dB; a change of
// speed or weighting while logging closes the log and starts another.
TEST_F(SplMeter, LoggingRecordsTheSecondsMaximaAndRestartsOnChanges) {
    auto meter = restore(settings(kA, kFast, 0, 94.0));
    ASSERT_NE(meter, nullptr);
    meter->setLogging(true);
    ASSERT_TRUE(meter->logging());
    EXPECT_EQ(meter->currentSPLLog(), nullptr);
    settle(*meter);
    for (int second = 0; second < 60; ++second) {
        SplInput::shared().pump(2);
        meter->logSPLLevelsToHistoryView();
    }
    EXPECT_NE(meter->currentSPLLog(), nullptr);
    const std::shared_ptr<KOSPLLog> log = meter->currentSPLLog();
    ASSERT_EQ(log->length(), 60u);
    const double expected = 94.0 + SplInput::weightedLevel(SplInput::kTones[0], kA);
    EXPECT_NEAR(log->recordAtIndex(59).spl, expected, kTolerance);
    EXPECT_TRUE(log->name().startsWith("New SPL Log, "));
    EXPECT_EQ(log->weight(), kA);
    EXPECT_TRUE(meter->validateMenuItem(fourCC("expo")));
    ASSERT_NE(meter->exportSourceForCurrentLog(), nullptr);
    EXPECT_EQ(meter->exportSourceForCurrentLog()->unitForHeader("SPL"), "dB(A)");

    meter->setWeighting(kA);
    EXPECT_TRUE(meter->finishedLogs().empty()); // the same weighting changes nothing
    meter->setWeighting(kC);
    ASSERT_EQ(meter->finishedLogs().size(), 1u);
    EXPECT_EQ(meter->finishedLogs()[0], log);
    EXPECT_EQ(meter->currentSPLLog(), nullptr);
    EXPECT_FALSE(meter->validateMenuItem(fourCC("expo")));
    EXPECT_EQ(meter->exportSourceForCurrentLog(), nullptr);
    meter->setInstrumentSpeed(kSlow);
    EXPECT_EQ(meter->finishedLogs().size(), 2u);
    EXPECT_FALSE(meter->canBeClosed());
    // Closing while logging only hides the window; the meter goes on.
    meter->instrumentWindow()->show();
    EXPECT_FALSE(meter->instrumentWindow()->close());
    EXPECT_FALSE(meter->instrumentWindow()->isVisible());
    EXPECT_TRUE(meter->logging());
    EXPECT_TRUE(meter->isInDataCollectorThread());
    meter->applicationWillStop();
    EXPECT_FALSE(meter->logging());
    EXPECT_EQ(meter->finishedLogs().size(), 3u);
}

// A finished log reaches the log store at once: a later start (a new store over the same
// folder) finds it with every record, and deleting it there keeps it gone.
TEST_F(SplMeter, AFinishedLogIsFoundAfterARestart) {
    auto meter = restore(settings(kC, kFast, 0, 94.0));
    ASSERT_NE(meter, nullptr);
    meter->setLogging(true);
    settle(*meter);
    for (int second = 0; second < 5; ++second) {
        SplInput::shared().pump(2);
        meter->logSPLLevelsToHistoryView();
    }
    meter->setLogging(false);
    ASSERT_EQ(meter->finishedLogs().size(), 1u);
    const std::shared_ptr<KOSPLLog> log = meter->finishedLogs()[0];
    ASSERT_EQ(log->length(), 5u);

    const QString folder = koru::platform::applicationSupportDirectory();
    ASSERT_TRUE(KOSPLLogStore::sharedStore().waitUntilSaved());
    {
        KOSPLLogStore restarted(folder);
        ASSERT_EQ(restarted.countOfLogs(), 1);
        const auto found = restarted.logs()[0];
        EXPECT_EQ(found->name(), log->name());
        EXPECT_EQ(found->weight(), kC);
        EXPECT_EQ(found->speed(), kFast);
        EXPECT_EQ(found->splData(), log->splData());
        const double expected = 94.0 + SplInput::weightedLevel(SplInput::kTones[0], kC);
        EXPECT_NEAR(found->recordAtIndex(4).spl, expected, kTolerance);
        restarted.removeLog(found);
        EXPECT_TRUE(restarted.waitUntilSaved());
    }
    EXPECT_EQ(KOSPLLogStore(folder).countOfLogs(), 0);
}

// The remote server's meter document reads the meter as it is: its published level, weighting
// and periods; its log document has the log being recorded from its first record on.
TEST_F(SplMeter, TheRemoteDocumentsReadTheMeter) {
    auto meter = restore(settings(kC, kFast, 0, 94.0));
    ASSERT_NE(meter, nullptr);
    meter->setName(QStringLiteral("Stage"));
    meter->setLogging(true);
    settle(*meter);
    for (int second = 0; second < 3; ++second) {
        SplInput::shared().pump(2);
        meter->logSPLLevelsToHistoryView();
    }
    const KOSplMeterSnapshot snapshot = meter->splMeterSnapshot();
    EXPECT_EQ(snapshot.weighting, kC);
    EXPECT_EQ(snapshot.speed, kFast);
    EXPECT_EQ(snapshot.spl, meter->currentSPL());
    EXPECT_EQ(snapshot.leqDuration, meter->leqTimerDuration());
    const std::vector<KOSplOpenInstrument> open{{meter->name(), meter->identifier(), snapshot}};
    const QByteArray document = *KOSplDocuments::meterDocument(open, "Stage", 0.0);
    const double expected = 94.0 + SplInput::weightedLevel(SplInput::kTones[0], kC);
    const QString spl =
        QString::fromUtf8(document).section("<spl unit=\"dB(C)\">", 1).section('<', 0, 0);
    EXPECT_NEAR(spl.toDouble(), expected, kTolerance + 0.05) << document.toStdString();
    EXPECT_TRUE(document.contains("<weighting>C-Weighted</weighting><speed>Fast</speed>"));
    const auto log =
        KOSplDocuments::logDocument(open, {{"instrumentName", "Stage"}, {"resolution", "1"}}, 0.0);
    ASSERT_TRUE(log);
    EXPECT_EQ(log->count("<log "), 3) << log->toStdString();
    // The finished log leaves the shared store as it came.
    meter->setLogging(false);
    KOSPLLogStore::sharedStore().removeLog(snapshot.log);
    EXPECT_TRUE(KOSPLLogStore::sharedStore().waitUntilSaved());
}

// A big display shows what its meter measures, in the meter's weighting and speed, follows a
// change of weighting, and leaves the meter when its window closes.
TEST_F(SplMeter, ABigDisplayFollowsItsMeter) {
    auto meter = restore(settings(kA, kFast, 0, 94.0));
    ASSERT_NE(meter, nullptr);
    KOSplBigWindowController* big = meter->openBigWindow();
    ASSERT_EQ(meter->countOfBigWindows(), 1u);
    settle(*meter);
    const double expected = 94.0 + SplInput::weightedLevel(SplInput::kTones[0], kA);
    EXPECT_NEAR(big->view()->values().primary, expected, kTolerance);
    EXPECT_EQ(big->view()->values().primary, shown(*meter));
    EXPECT_EQ(big->view()->displayedText(), KOString::stringFromSpLevel(shown(*meter)));
    EXPECT_EQ(big->view()->infoString(), meter->splView()->infoString());

    meter->setWeighting(kC);
    EXPECT_EQ(big->view()->weightingType(), kC);
    settle(*meter);
    EXPECT_NEAR(big->view()->values().primary,
                94.0 + SplInput::weightedLevel(SplInput::kTones[0], kC), kTolerance);

    // While a big display is open, closing the meter's window only hides it.
    meter->instrumentWindow()->show();
    EXPECT_FALSE(meter->instrumentWindow()->close());
    EXPECT_TRUE(meter->isInDataCollectorThread());

    big->window()->close();
    EXPECT_EQ(meter->countOfBigWindows(), 0u);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    SplInput::shared().pump(4); // the collector no longer reaches the closed display
}

} // namespace
