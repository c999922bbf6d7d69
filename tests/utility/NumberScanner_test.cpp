#include "UtilityTestSupport.h"

#include "utility/NumberScanner.h"

#include <cmath>

namespace {

using koru::utility::NumberScanner;

class NumberScannerTest : public koru::test::LocaleTest {};

TEST_P(NumberScannerTest, ReadsTheLeadingNumberWhateverTheLocale) {
    const std::vector<std::pair<const char*, std::optional<double>>> cases = {
        {"12", 12.0},       {"  -3.5 dB", -3.5}, {"+2", 2.0},         {"1.5", 1.5},
        {"1,5", 1.0},       {".25x", 0.25},      {"5.", 5.0},         {"1e3", 1000.0},
        {"1e", 1.0},        {"2E-2", 0.02},      {"1e-999", 0.0},     {"abc", std::nullopt},
        {"", std::nullopt}, {"-", std::nullopt}, {".", std::nullopt}, {"inf", std::nullopt},
        {"\t\n7", 7.0},
    };
    for (const auto& [text, expected] : cases)
        EXPECT_EQ(NumberScanner::leadingDouble(std::string_view(text)), expected) << text;
    EXPECT_TRUE(std::isinf(*NumberScanner::leadingDouble(std::string_view("1e999"))));
}

TEST_P(NumberScannerTest, ReadsLeadingIntegersSaturating) {
    const std::vector<std::pair<const char*, std::optional<std::int64_t>>> cases = {
        {"42abc", 42},
        {" -7.9", -7},
        {"9223372036854775807", INT64_MAX},
        {"9223372036854775808", INT64_MAX},
        {"-9223372036854775808", INT64_MIN},
        {"-99999999999999999999", INT64_MIN},
        {"x1", std::nullopt},
    };
    for (const auto& [text, expected] : cases)
        EXPECT_EQ(NumberScanner::leadingInteger(std::string_view(text)), expected) << text;
    EXPECT_EQ(NumberScanner::wholeUnsigned("0042"), 42u);
    EXPECT_FALSE(NumberScanner::wholeUnsigned("4 2").has_value());
    EXPECT_FALSE(NumberScanner::wholeUnsigned("").has_value());
}

INSTANTIATE_TEST_SUITE_P(Locales, NumberScannerTest, koru::test::kLocales, koru::test::localeName);

} // namespace
