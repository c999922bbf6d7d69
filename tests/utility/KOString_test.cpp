#include "UtilityTestSupport.h"

#include "utility/KOString.h"

#include "platform/fourcc/FourCC.h"

#include <cmath>
#include <limits>

namespace {

using koru::platform::fourCC;
using koru::test::LocaleTest;

class KOStringFormats : public LocaleTest {};

TEST_P(KOStringFormats, SoundLevelsShowOneDecimalInsideTheMeasuringRange) {
    const std::vector<std::pair<float, const char*>> cases = {
        {30.0f, "30.0 dB"},
        {130.0f, "130.0 dB"},
        {94.04f, "94.0 dB"},
        {94.05f, "94.1 dB"}, // the float is 94.0500031
        {29.99f, "--.- dB"},
        {130.01f, "--.- dB"},
        {-10.0f, "--.- dB"},
        {std::numeric_limits<float>::quiet_NaN(), "--.- dB"},
        {std::numeric_limits<float>::infinity(), "--.- dB"},
    };
    for (const auto& [level, expected] : cases)
        EXPECT_EQ(KOString::stringFromSpLevel(level), QString(expected)) << level;
    EXPECT_EQ(KOString::stringFromSpLevel("LEQ", 85.25f), "LEQ 85.2 dB");
    EXPECT_EQ(KOString::stringFromSpLevel("Peak", 10.0f), "Peak --.- dB");
}

TEST_P(KOStringFormats, FrequencyLabelIsTheCompactLabel) {
    EXPECT_EQ(KOString::stringWithFrequency(1250.0f), "1k25");
    EXPECT_EQ(KOString::stringWithFrequency(62.5f), "62");
}

INSTANTIATE_TEST_SUITE_P(Locales, KOStringFormats, koru::test::kLocales, koru::test::localeName);

TEST(KOString, SplLabelsFollowTheirCodes) {
    struct Case {
        std::uint32_t code;
        const char *speed, *weighting, *shortWeighting, *value;
    };
    const std::vector<Case> cases = {
        {fourCC("fast"), "Fast", "-", "-", ""},
        {fourCC("slow"), "Slow", "-", "-", ""},
        {fourCC("a_wt"), " -- ", "A-Weighted", "A", ""},
        {fourCC("b_wt"), " -- ", "B-Weighted", "B", ""},
        {fourCC("c_wt"), " -- ", "C-Weighted", "C", ""},
        {fourCC("LEQ "), " -- ", "-", "-", "LEQ"},
        {fourCC("avg "), " -- ", "-", "-", "AVG"},
        {fourCC("inst"), " -- ", "-", "-", "SPL"},
        {fourCC("peak"), " -- ", "-", "-", "Peak"},
        {fourCC("LEQ_"), " -- ", "-", "-", ""},
        {0, " -- ", "-", "-", ""},
    };
    for (const Case& c : cases) {
        const auto code = koru::platform::fourCCToString(c.code).toStdString();
        EXPECT_EQ(KOString::stringWithSplnstrumentSpeed(c.code), c.speed) << code;
        EXPECT_EQ(KOString::stringWithWeightingType(c.code), c.weighting) << code;
        EXPECT_EQ(KOString::shortStringWithWeightingType(c.code), c.shortWeighting) << code;
        EXPECT_EQ(KOString::stringForSplDisplay(c.code), c.value) << code;
    }
    EXPECT_EQ(KOString::stringForSplInfo(fourCC("a_wt"), fourCC("slow")), "A-Weighted, Slow");
    EXPECT_EQ(KOString::stringForSplInfo(0, 0), "-,  -- ");
}

TEST(KOString, NetworkStatusHasSixTexts) {
    const std::vector<const char*> expected = {"Not Connected", "Connected",  "Overflow",
                                               "Underflow",     "Connecting", "Listening"};
    for (std::uint32_t status = 0; status < expected.size(); ++status)
        EXPECT_EQ(KOString::stringFromNetSendStatus(status), QString(expected[status]));
    EXPECT_FALSE(KOString::stringFromNetSendStatus(6).has_value());
    EXPECT_FALSE(KOString::stringFromNetSendStatus(0xFFFFFFFFu).has_value());
}

TEST(KOString, UniqueNamesTakeTheFirstFreeNumber) {
    EXPECT_EQ(KOString::uniqueStringWithPrefix("SPL Meter", [](const QString&) { return true; }),
              "SPL Meter 1");
    const QStringList taken = {"SPL Meter 1", "SPL Meter 2", "SPL Meter 4"};
    EXPECT_EQ(KOString::uniqueStringWithPrefix(
                  "SPL Meter", [&](const QString& name) { return !taken.contains(name); }),
              "SPL Meter 3");
    int asked = 0;
    EXPECT_EQ(KOString::uniqueStringWithPrefix("SPL Meter",
                                               [&](const QString&) {
                                                   ++asked;
                                                   return false;
                                               }),
              "SPL Meter 99");
    EXPECT_EQ(asked, 99);
}

} // namespace
