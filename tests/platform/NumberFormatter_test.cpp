#include "platform/formatter/KOStandardNumberFormatters.h"
#include "platform/formatter/NumberFormatter.h"

#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

using koru::platform::NumberFormatter;

namespace {

struct FormatCase {
    double value;
    const char* text;
};

// The test process starts in the "C" locale, whose numbers read as in English.
TEST(KOStandardNumberFormatters, EnglishLocaleShowsOneFractionDigitWithoutGrouping) {
    const FormatCase cases[] = {
        {3, "3.0"},
        {12.34, "12.3"},
        {0.04, "0.0"},
        {1234567.0, "1234567.0"},
        {0, "0.0"},
        {-2.26, "-2.3"},
        {9.96, "10.0"},
        {-99.95, "-100.0"},
        {0.05, "0.1"}, // rounds the decimal seen, not the binary 0.05000000000000000277
        {0.15, "0.2"}, // nor the binary 0.1499999999999999944
        {0.25, "0.3"}, // an exact tie goes away from zero
        {-0.25, "-0.3"},
        {-0.04, "0.0"}, // no "-0.0"
        {-0.0, "0.0"},
        {1e-7, "0.0"},
        {1e20, "100000000000000000000.0"},
        {-120.0, "-120.0"},
    };
    const NumberFormatter formatter = KOStandardNumberFormatters::standardFormatter();
    for (const FormatCase& c : cases)
        EXPECT_EQ(formatter.stringFromNumber(c.value), QString::fromLatin1(c.text)) << c.value;
}

TEST(KOStandardNumberFormatters, AllThreeAreConfiguredAlike) {
    for (const NumberFormatter& f :
         {KOStandardNumberFormatters::standardFormatter(),
          KOStandardNumberFormatters::standardFormatterForDbLevels(),
          KOStandardNumberFormatters::standardFormatterForFrequencies()}) {
        EXPECT_EQ(f.minimumFractionDigits(), 1);
        EXPECT_EQ(f.maximumFractionDigits(), 1);
        EXPECT_EQ(f.minimumIntegerDigits(), 1);
        EXPECT_FALSE(f.usesGroupingSeparator());
        EXPECT_TRUE(f.alwaysShowsDecimalSeparator());
        EXPECT_TRUE(f.allowsFloats());
        EXPECT_EQ(f.locale(), QLocale());
    }
}

TEST(KOStandardNumberFormatters, EveryCallGivesAnIndependentFormatter) {
    NumberFormatter changed = KOStandardNumberFormatters::standardFormatter();
    changed.setDecimalSeparator(QStringLiteral(";"));
    changed.setMaximumFractionDigits(3);

    const NumberFormatter fresh = KOStandardNumberFormatters::standardFormatter();
    EXPECT_EQ(changed.stringFromNumber(1.2345), "1;235");
    EXPECT_EQ(fresh.stringFromNumber(1.2345), "1.2");
}

TEST(KOStandardNumberFormatters, FollowsTheCurrentLocaleAtCreation) {
    koru::test::ScopedLocale locale("de_DE.UTF-8");
    if (!locale.active())
        GTEST_SKIP() << "de_DE.UTF-8 is not installed";
    NumberFormatter formatter = KOStandardNumberFormatters::standardFormatter();

    EXPECT_EQ(formatter.stringFromNumber(3), "3,0");
    EXPECT_EQ(formatter.stringFromNumber(12.34), "12,3");
    EXPECT_EQ(formatter.stringFromNumber(1234567.0), "1234567,0");
    EXPECT_EQ(formatter.stringFromNumber(-0.04), "0,0");
    EXPECT_EQ(formatter.numberFromString("12,3"), 12.3);
    EXPECT_EQ(formatter.numberFromString("12.3"), std::nullopt) << "'.' groups in German";

    // The CSV exporter forces its own separator whatever the locale.
    formatter.setDecimalSeparator(QStringLiteral("."));
    EXPECT_EQ(formatter.decimalSeparator(), ".");
    EXPECT_EQ(formatter.stringFromNumber(12.34), "12.3");
    EXPECT_EQ(formatter.numberFromString("12.3"), 12.3);
    EXPECT_EQ(formatter.numberFromString("12,3"), std::nullopt);
}

class NumberFormatterTest : public ::testing::Test {
protected:
    NumberFormatter english{QLocale(QLocale::English, QLocale::UnitedStates)};
};

TEST_F(NumberFormatterTest, DefaultsShowUpToThreeDigitsWithoutTrailingZeros) {
    EXPECT_EQ(english.stringFromNumber(2.5), "2.5");
    EXPECT_EQ(english.stringFromNumber(3), "3");
    EXPECT_EQ(english.stringFromNumber(1.23456), "1.235");
    EXPECT_EQ(english.stringFromNumber(-0.0004), "0");
}

TEST_F(NumberFormatterTest, DigitCountsGroupingAndSeparatorSettings) {
    struct Case {
        const char* label;
        int minInteger, minFraction, maxFraction;
        bool grouping, alwaysDecimal;
        double value;
        const char* text;
    };
    const Case cases[] = {
        {"grouping", 1, 0, 2, true, false, 1234567.891, "1,234,567.89"},
        {"grouping, carry adds a group", 1, 0, 0, true, false, 999999.5, "1,000,000"},
        {"grouping below a thousand", 1, 0, 0, true, false, -999, "-999"},
        {"no integer digit required", 0, 0, 1, false, false, 0.5, ".5"},
        {"zero with no digits required", 0, 0, 0, false, false, 0.2, "0"},
        {"leading zeros", 3, 0, 0, false, false, 5, "005"},
        {"separator without fraction", 1, 0, 0, false, true, 3, "3."},
        {"fraction padded", 1, 3, 3, false, false, 1.5, "1.500"},
        {"minimum above maximum wins", 1, 2, 1, false, false, 1.234, "1.23"},
        {"carry through the integer", 1, 2, 2, false, false, 9.999, "10.00"},
    };
    for (const Case& c : cases) {
        NumberFormatter f = english;
        f.setMinimumIntegerDigits(c.minInteger);
        f.setMinimumFractionDigits(c.minFraction);
        f.setMaximumFractionDigits(c.maxFraction);
        f.setUsesGroupingSeparator(c.grouping);
        f.setAlwaysShowsDecimalSeparator(c.alwaysDecimal);
        EXPECT_EQ(f.stringFromNumber(c.value), QString::fromLatin1(c.text)) << c.label;
    }
}

TEST_F(NumberFormatterTest, NonFiniteValuesRoundTrip) {
    const double inf = std::numeric_limits<double>::infinity();
    EXPECT_EQ(english.numberFromString(english.stringFromNumber(inf)), inf);
    EXPECT_EQ(english.numberFromString(english.stringFromNumber(-inf)), -inf);
    const auto nan = english.numberFromString(english.stringFromNumber(std::nan("")));
    ASSERT_TRUE(nan.has_value());
    EXPECT_TRUE(std::isnan(*nan));
}

TEST_F(NumberFormatterTest, ParsesWhatItWrites) {
    english.setUsesGroupingSeparator(true);
    english.setMaximumFractionDigits(2);
    for (const double value : {0.0, 1.5, -2.25, 1234567.89, -1000.0, 0.01, 99999.99}) {
        const QString text = english.stringFromNumber(value);
        EXPECT_EQ(english.numberFromString(text), value) << text.toStdString();
    }
}

TEST_F(NumberFormatterTest, ParsingAcceptsNumbersOnly) {
    struct Case {
        const char* text;
        std::optional<double> value;
    };
    const Case cases[] = {
        {"12.5", 12.5},
        {" 12.5 ", 12.5},
        {"-0.5", -0.5},
        {"+3", 3.0},
        {".5", 0.5},
        {"5.", 5.0},
        {"007", 7.0},
        {"", std::nullopt},
        {"abc", std::nullopt},
        {"1.2.3", std::nullopt},
        {"1,234", std::nullopt},
        {"12a", std::nullopt},
        {"-", std::nullopt},
        {".", std::nullopt},
        {"1e5", std::nullopt},
    };
    for (const Case& c : cases)
        EXPECT_EQ(english.numberFromString(QString::fromLatin1(c.text)), c.value) << c.text;
}

TEST_F(NumberFormatterTest, GroupedTextParsesOnlyWhenGroupingIsOn) {
    EXPECT_EQ(english.numberFromString("1,234.5"), std::nullopt);
    english.setUsesGroupingSeparator(true);
    EXPECT_EQ(english.numberFromString("1,234.5"), 1234.5);
    EXPECT_EQ(english.numberFromString(",234"), std::nullopt);
}

TEST_F(NumberFormatterTest, WithoutFloatsOnlyWholeNumbersParse) {
    english.setAllowsFloats(false);
    EXPECT_EQ(english.numberFromString("3"), 3.0);
    EXPECT_EQ(english.numberFromString("3.0"), 3.0);
    EXPECT_EQ(english.numberFromString("3.5"), std::nullopt);
}

} // namespace
