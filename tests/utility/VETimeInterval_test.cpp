#include "UtilityTestSupport.h"

#include "utility/VEIntervalFormatter.h"
#include "utility/VETimeInterval.h"

#include <QVariant>

#include <limits>

namespace {

using koru::test::LocaleTest;

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

// Texts are the same in every locale: nothing here is written or read the locale's way.
class IntervalTextTest : public LocaleTest {};

TEST_P(IntervalTextTest, SecondsShowRoundedWithTheValuesSign) {
    const struct {
        double seconds;
        const char* text;
    } cases[] = {
        {0.0, "00:00:00"},        {3725.4, "01:02:05"},
        {3725.5, "01:02:06"},     {-59.5, "-00:01:00"}, // halves round away from zero
        {-0.3, "-00:00:00"}, // the sign is the value's, not the rounded value's
        {360000.0, "100:00:00"},  {86399.0, "23:59:59"},
        {3e12, "596523:14:07"}, // beyond 32 bits: the largest duration shown
        {-kInf, "-596523:14:07"}, {kNaN, "--:--:--"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(VEStringFromTimeInterval(c.seconds), QString::fromLatin1(c.text)) << c.seconds;
}

TEST_P(IntervalTextTest, TheFormatterReadsTheFirstIntervalAnywhere) {
    const VEIntervalFormatter formatter;
    const struct {
        const char* text;
        bool recognised;
        double seconds;
    } cases[] = {
        {"01:02:03", true, 3723},
        {"x 1:2:3 y", true, 3723},
        {"-0:90:00", true, -5400},
        {"-01:02:03", true, -3723},
        {"--1:00:00", true, -3600},            // the minus right before the hours counts
        {"0:0:99999999999", true, 2147483647}, // a component saturates at 32 bits
        {"1:2", false, 0},
        {"", false, 0},
        {"1,5:00:00", true, 18000}, // a comma is no decimal separator in any locale
        {"--:--:--", false, 0},
    };
    for (const auto& c : cases) {
        QVariant value;
        EXPECT_EQ(formatter.getObjectValue(value, QString::fromLatin1(c.text)), c.recognised)
            << c.text;
        EXPECT_EQ(formatter.isTimeIntervalString(QString::fromLatin1(c.text)), c.recognised);
        if (c.recognised) {
            EXPECT_EQ(value.toDouble(), c.seconds) << c.text;
        }
    }
}

TEST_P(IntervalTextTest, OnlyNumbersHaveAnInterval) {
    const VEIntervalFormatter formatter;
    EXPECT_EQ(formatter.stringForObjectValue(QVariant(3725.4)), "01:02:05");
    EXPECT_EQ(formatter.stringForObjectValue(QVariant(qint64(-61))), "-00:01:01");
    EXPECT_EQ(formatter.stringForObjectValue(QVariant(QStringLiteral("60"))), "--:--:--");
    EXPECT_EQ(formatter.stringForObjectValue(QVariant()), "--:--:--");
}

INSTANTIATE_TEST_SUITE_P(Locales, IntervalTextTest, koru::test::kLocales, koru::test::localeName);

TEST(VETimeIntervalComponents, SplitAndSummedInThirtyTwoBits) {
    VETimeIntervalComponents c;
    VETimeIntervalGetComponents(-3725.4, c);
    EXPECT_EQ(c, (VETimeIntervalComponents{-1, 1, 2, 5}));
    VETimeIntervalGetComponents(kNaN, c);
    EXPECT_EQ(c, (VETimeIntervalComponents{1, 0, 0, 0}));

    const struct {
        VETimeIntervalComponents components;
        double seconds;
    } sums[] = {
        {{1, 1, 2, 3}, 3723},
        {{-1, 1, 2, 3}, -3723},
        {{0, 0, 0, 5}, -5},     // any sign below 1 negates
        {{1, 0, 99, 99}, 6039}, // out-of-range components are simply summed
        {{1, 0, 0, -1}, -1},
        {{1, 2147483647, 59, 59}, 2147483647}, // limited, not wrapped
        {{-1, 2147483647, 0, 0}, -2147483647},
    };
    for (const auto& s : sums)
        EXPECT_EQ(VETimeIntervalFromComponents(s.components), s.seconds);
}

} // namespace
