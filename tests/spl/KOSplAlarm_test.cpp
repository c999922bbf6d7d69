#include "spl/KOSPLLog.h"
#include "spl/KOSplAlarm.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

// Levels against a limit of 80 dB: which of them fire.
TEST(SplAlarm, FiresOncePerUpwardCrossing) {
    const struct {
        const char* what;
        std::vector<float> levels;
        std::vector<int> fires;
    } cases[] = {
        {"stays above", {79, 85, 90, 95, 85}, {1}},
        {"falls and rises again", {85, 79, 85}, {0, 2}},
        {"equal neither fires nor re-arms", {80, 85, 80, 85, 79.9f, 80.1f}, {1, 5}},
        {"starts above", {100, 100}, {0}},
        {"never above", {80, 70, 80}, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        KOSplAlarm alarm;
        std::vector<int> fired;
        for (std::size_t i = 0; i < c.levels.size(); ++i)
            if (alarm.update(true, c.levels[i], 80.0f))
                fired.push_back(int(i));
        EXPECT_EQ(fired, c.fires);
    }
}

// While the alarm is off nothing fires, but falling below the limit still re-arms it.
TEST(SplAlarm, DisabledNeverFires) {
    KOSplAlarm alarm;
    EXPECT_FALSE(alarm.update(false, 90.0f, 80.0f));
    EXPECT_TRUE(alarm.update(true, 90.0f, 80.0f));
    EXPECT_FALSE(alarm.update(false, 70.0f, 80.0f));
    EXPECT_TRUE(alarm.update(true, 90.0f, 80.0f));
}

TEST(SplAlarm, InstrumentCyclesFollowRateAndHop) {
    const struct {
        double rate;
        std::uint32_t size;
        double seconds;
        std::uint32_t cycles;
    } cases[] = {
        {44100, 8192, 1800, 77519}, // asks more than the average ring holds
        {44100, 8192, 60, 2583},    {48000, 65536, 5, 29},
        {48000, 8192, 0.5, 23},     {0, 8192, 60, 2583},  // no rate: counted at 44.1 kHz
        {-1, 8192, 60, 2583},       {44100, 0, 1, 44100}, // no hop: one frame
        {44100, 8192, 0, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.rate << " Hz, " << c.size << ", " << c.seconds);
        EXPECT_EQ(splInstrumentCycles(c.rate, c.size, c.seconds), c.cycles);
    }
}

// Groups of records become one record with their maxima and the latest time.
TEST(SplLog, RangesAreWalkedInGroupsOfTheirMaxima) {
    KOSPLLog log;
    const QDateTime start(QDate(2026, 1, 2), QTime(3, 4, 5), Qt::UTC);
    for (int i = 0; i < 25; ++i)
        log.addSPL(float(60 + (i % 7)), float(50 + i), float(90 - i), start.addSecs(i));
    std::vector<KOSPLRecord> groups;
    log.enumerateDataInRange(2, 21, 10, [&](const KOSPLRecord& r) { groups.push_back(r); });
    ASSERT_EQ(groups.size(), 3u);
    EXPECT_EQ(groups[0].spl, 66.0f);
    EXPECT_EQ(groups[0].avg, 61.0f);
    EXPECT_EQ(groups[0].leq, 88.0f);
    EXPECT_EQ(groups[2].spl, float(60 + 22 % 7));
    EXPECT_DOUBLE_EQ(groups[2].time, log.recordAtIndex(22).time);
    std::size_t clamped = 0;
    log.enumerateDataInRange(20, 100, 0, [&](const KOSPLRecord&) { ++clamped; });
    EXPECT_EQ(clamped, 5u);
}

} // namespace
