#include "app/InstrumentRegistry.h"
#include "framework/KOColorAdditions.h"
#include "framework/KOLevelHistoryView.h"
#include "meters/ui/KOLevelDistributionView.h"
#include "meters/ui/KOLevelHistoryController.h"
#include "meters/ui/MeterInstruments.h"

#include <QLabel>
#include <QMenu>
#include <QSlider>

#include <gtest/gtest.h>

#include <vector>

namespace {

std::unique_ptr<KOInstrumentController> makeHistory(const QVariantMap* saved = nullptr) {
    static auto* registry = [] {
        auto* made = new koru::InstrumentRegistry;
        koru::registerMeterInstruments(*made);
        return made;
    }();
    return saved ? registry->createFromDictionary(*saved, nullptr)
                 : registry->createNew(QStringLiteral("KOLevelHistoryController"), nullptr);
}

TEST(KOLevelHistoryController, SavedKeysRestore) {
    auto made = makeHistory();
    auto* history = dynamic_cast<KOLevelHistoryController*>(made.get());
    ASSERT_NE(history, nullptr);
    // 3.0 s in whole 1024-frame collections: 129 at 44.1 kHz, 140 at 48 kHz.
    const double rate = history->instrument()->HostSampleRate();
    if (history->instrument()->HostBufferFrames() != 1024 || (rate != 44100.0 && rate != 48000.0)) {
        GTEST_SKIP() << "figures for 1024-frame buffers at 44.1 or 48 kHz";
    }
    EXPECT_EQ(history->distributionView()->distributionBound(), rate == 44100.0 ? 129u : 140u);
    history->setIntegrationTime(1.0);
    history->setDistributionTime(10.0);
    history->setInputChannel(1);
    history->setColor(QColor(200, 100, 50));
    history->setSpeed(1.5);
    history->instrumentWindow()->resize(600, 250);
    history->instrumentWindow()->show();
    history->setDividerPosition(380.0);
    const QVariantMap saved = history->dictionaryRepresentation();
    EXPECT_DOUBLE_EQ(saved.value(QStringLiteral("LevelHistory.DividerPosition")).toDouble(), 380.0);
    const QVariantMap colour = saved.value(QStringLiteral("LevelHistory.Color")).toMap();
    EXPECT_NEAR(colour.value(QStringLiteral("r")).toDouble(), 200.0 / 255.0, 1e-6);
    EXPECT_NEAR(colour.value(QStringLiteral("a")).toDouble(), 1.0, 1e-6);
    auto again = makeHistory(&saved);
    auto* restored = dynamic_cast<KOLevelHistoryController*>(again.get());
    ASSERT_NE(restored, nullptr);
    EXPECT_NEAR(restored->integrationTime(), 1.0, 1.0 / rate);
    EXPECT_DOUBLE_EQ(restored->distributionTime(), 10.0);
    EXPECT_EQ(restored->distributionView()->distributionBound(), rate == 44100.0 ? 430u : 468u);
    EXPECT_EQ(restored->inputChannel(), 1);
    EXPECT_EQ(restored->color(), QColor(200, 100, 50));
    EXPECT_EQ(restored->distributionView()->color(), QColor(200, 100, 50)) << "both views";
    EXPECT_DOUBLE_EQ(restored->speed(), 1.5);
    restored->instrumentWindow()->resize(600, 250);
    restored->instrumentWindow()->show();
    restored->setDividerPosition(
        saved.value(QStringLiteral("LevelHistory.DividerPosition")).toDouble());
    EXPECT_NEAR(restored->dividerPosition(), 380.0, 1.0);
    // The overlay shows the integration time in use.
    EXPECT_EQ(restored->integrationSlider()->value(), 1000);
    EXPECT_EQ(restored->integrationReadout()->text(), QStringLiteral("1000 msec"));

    // A colour that cannot be read takes a colour of the trace sequence; a missing divider
    // leaves the split as the window has it.
    QVariantMap broken = saved;
    broken.insert(QStringLiteral("LevelHistory.Color"), QStringLiteral("blue"));
    broken.remove(QStringLiteral("LevelHistory.DividerPosition"));
    auto fallback = makeHistory(&broken);
    auto* defaults = dynamic_cast<KOLevelHistoryController*>(fallback.get());
    ASSERT_NE(defaults, nullptr);
    EXPECT_TRUE(defaults->color().isValid());
    EXPECT_EQ(defaults->color().alpha(), 255);
}

TEST(KOLevelHistoryController, ANewWindowDrawsInTheStandardTraceColourAtSpeedOne) {
    auto made = makeHistory();
    auto* history = dynamic_cast<KOLevelHistoryController*>(made.get());
    ASSERT_NE(history, nullptr);
    EXPECT_EQ(history->color(), KOColorAdditions::noBlueColor());
    EXPECT_EQ(history->distributionView()->color(), KOColorAdditions::noBlueColor());
    EXPECT_DOUBLE_EQ(history->speed(), 1.0);
    EXPECT_EQ(history->integrationReadout()->text(), QStringLiteral("250 msec"));
    QMenu* menu = history->instrumentMenu();
    ASSERT_NE(menu, nullptr);
    EXPECT_EQ(menu->title(), history->name());
    // Setting the integration time from the slider clamps it to 10 ms .. 1 s.
    history->integrationSlider()->setValue(500);
    EXPECT_NEAR(history->integrationTime(), 0.5, 1e-3);
    EXPECT_EQ(history->integrationReadout()->text(), QStringLiteral("500 msec"));
}

TEST(KOLevelHistoryController, CollectionsFillTheRingsAndTheDistribution) {
    auto made = makeHistory();
    auto* history = dynamic_cast<KOLevelHistoryController*>(made.get());
    ASSERT_NE(history, nullptr);
    history->instrumentWindow()->show();
    history->instrument()->SetNumberOfChannels(1);
    history->setDistributionBound(4);
    std::vector<float> full(1024, -1.0f);
    std::vector<float> silence(1024, 0.0f);
    AudioBuffer buffer{1, 4096, full.data()};
    const AudioBufferList list{1, &buffer};
    // Full scale three times, then silence: the held peak falls from 0 dB.
    for (int i = 0; i < 4; ++i) {
        buffer.mData = i < 3 ? full.data() : silence.data();
        history->instrument()->Process(&list, 1024);
        history->dataCollection();
    }
    {
        const std::lock_guard lock(history->dataCollectionLock());
        ASSERT_EQ(history->peakRing().count(), 4u);
        EXPECT_FLOAT_EQ(history->peakRing().newest(1), 1.0f);
        EXPECT_LT(history->peakRing().newest(0), 1.0f);
        EXPECT_GT(history->peakRing().newest(0), 0.98f);
    }
    // Three of the four newest peaks are full scale: the upper median is the top row.
    const int rows = history->distributionView()->height();
    ASSERT_GE(rows, 5);
    EXPECT_EQ(history->distributionView()->medianPeak(), double(rows - 1));
    history->reset();
    const std::lock_guard lock(history->dataCollectionLock());
    EXPECT_EQ(history->peakRing().count(), 0u);
}

} // namespace
