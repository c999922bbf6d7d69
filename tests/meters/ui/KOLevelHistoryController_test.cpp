#include "app/InstrumentRegistry.h"
#include "framework/KOLevelHistoryView.h"
#include "meters/ui/KOLevelDistributionView.h"
#include "meters/ui/KOLevelHistoryController.h"
#include "meters/ui/MeterInstruments.h"

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
    const QVariantMap saved = history->dictionaryRepresentation();
    auto again = makeHistory(&saved);
    auto* restored = dynamic_cast<KOLevelHistoryController*>(again.get());
    ASSERT_NE(restored, nullptr);
    EXPECT_NEAR(restored->integrationTime(), 1.0, 1.0 / rate);
    EXPECT_DOUBLE_EQ(restored->distributionTime(), 10.0);
    EXPECT_EQ(restored->distributionView()->distributionBound(), rate == 44100.0 ? 430u : 468u);
    EXPECT_EQ(restored->inputChannel(), 1);
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
