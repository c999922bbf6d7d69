#include "UtilityTestSupport.h"

#include "utility/VEColor.h"
#include "utility/ZODictionary.h"

#include "platform/plist/PropertyList.h"

#include <QDateTime>
#include <QTimeZone>

#include <cmath>
#include <limits>

namespace {

using koru::test::LocaleTest;

struct Reading {
    const char* what;
    QVariant value;
    float asFloat;
    std::int32_t asInt;
    std::uint32_t asUnsigned;
    bool asBool;
};

// The defaults the getters are called with, chosen to differ from every reading.
constexpr float kFloatDefault = -7.5f;
constexpr std::int32_t kIntDefault = -77;
constexpr std::uint32_t kUnsignedDefault = 777;
constexpr bool kBoolDefault = true;

std::vector<Reading> readings() {
    const auto maxInt = std::numeric_limits<std::int32_t>::max();
    const auto minInt = std::numeric_limits<std::int32_t>::min();
    return {
        {"int", 12, 12.0f, 12, 12u, true},
        {"zero", 0, 0.0f, 0, 0u, false},
        {"negative int", -1, -1.0f, -1, 4294967295u, true},
        {"real truncates", 2.75, 2.75f, 2, 2u, true},
        {"negative real", -2.75, -2.75f, -2, 4294967294u, true},
        {"half is true", 0.5, 0.5f, 0, 0u, true},
        {"huge real saturates", 1e12, 1e12f, maxInt, std::uint32_t(1000000000000ull), true},
        {"huge negative real", -1e12, -1e12f, minInt, std::uint32_t(-1000000000000ll), true},
        {"NaN", std::numeric_limits<double>::quiet_NaN(), std::nanf(""), 0, 0u, true},
        {"long long", qint64(1) << 40, 1099511627776.0f, maxInt, 0u, true},
        {"unsigned pattern of -3", QVariant::fromValue<quint64>(quint64(-3)), -3.0f, -3,
         4294967293u, true},
        {"bool true", true, 1.0f, 1, 1u, true},
        {"bool false", false, 0.0f, 0, 0u, false},
        {"float", QVariant::fromValue(1.5f), 1.5f, 1, 1u, true},
        {"text number", "12", 12.0f, 12, kUnsignedDefault, true},
        {"text with tail", "12abc", 12.0f, 12, kUnsignedDefault, true},
        {"text with blanks", "  -3.5e1x", -35.0f, -3, kUnsignedDefault, true},
        {"text fraction", ".5", 0.5f, 0, kUnsignedDefault, false},
        {"text no number", "abc", 0.0f, 0, kUnsignedDefault, false},
        {"empty text", "", 0.0f, 0, kUnsignedDefault, false},
        {"text yes", "YES", 0.0f, 0, kUnsignedDefault, true},
        {"text true", " true", 0.0f, 0, kUnsignedDefault, true},
        {"text no", "no", 0.0f, 0, kUnsignedDefault, false},
        {"text zeros", "+000", 0.0f, 0, kUnsignedDefault, false},
        {"text zeros then digit", "-007", -7.0f, -7, kUnsignedDefault, true},
        {"text comma is no decimal point", "1,5", 1.0f, 1, kUnsignedDefault, true},
        {"text huge", "99999999999", 1e11f, maxInt, kUnsignedDefault, true},
        {"date", QDateTime::currentDateTimeUtc(), kFloatDefault, kIntDefault, kUnsignedDefault,
         kBoolDefault},
        {"data", QByteArray("12"), kFloatDefault, kIntDefault, kUnsignedDefault, kBoolDefault},
        {"array", QVariantList{1}, kFloatDefault, kIntDefault, kUnsignedDefault, kBoolDefault},
        {"dictionary", QVariantMap{{"a", 1}}, kFloatDefault, kIntDefault, kUnsignedDefault,
         kBoolDefault},
        {"invalid", QVariant(), kFloatDefault, kIntDefault, kUnsignedDefault, kBoolDefault},
    };
}

void expectFloat(float actual, float expected, const char* what) {
    if (std::isnan(expected))
        EXPECT_TRUE(std::isnan(actual)) << what;
    else
        EXPECT_FLOAT_EQ(actual, expected) << what;
}

class ZODictionaryGetters : public LocaleTest {};

TEST_P(ZODictionaryGetters, EveryEntryKindGivesItsReadingOrTheDefault) {
    for (const Reading& r : readings()) {
        const QVariantMap dict{{"k", r.value}};
        expectFloat(ZODictionary::floatValueForKey(dict, "k", kFloatDefault), r.asFloat, r.what);
        EXPECT_EQ(ZODictionary::intForKey(dict, "k", kIntDefault), r.asInt) << r.what;
        EXPECT_EQ(ZODictionary::unsignedIntForKey(dict, "k", kUnsignedDefault), r.asUnsigned)
            << r.what;
        EXPECT_EQ(ZODictionary::boolForKey(dict, "k", kBoolDefault), r.asBool) << r.what;
    }
}

TEST_P(ZODictionaryGetters, ReadingsSurviveAPropertyListFile) {
    const QVariantMap stored{{"gain", 0.25}, {"channel", -1}, {"on", true}, {"level", "94.5"}};
    const QString path = koru::test::testRoot() + "/getters-" + GetParam() + ".plist";
    ASSERT_TRUE(
        koru::platform::PropertyList::write(path, stored, koru::platform::PlistFormat::Xml));
    const auto read = koru::platform::PropertyList::read(path);
    ASSERT_TRUE(read.ok()) << read.error.toStdString();
    const QVariantMap dict = read.value.toMap();
    EXPECT_FLOAT_EQ(ZODictionary::floatForKey(dict, "gain"), 0.25f);
    EXPECT_EQ(ZODictionary::intForKey(dict, "channel"), -1);
    EXPECT_EQ(ZODictionary::unsignedIntForKey(dict, "channel", 0), 4294967295u);
    EXPECT_TRUE(ZODictionary::boolForKey(dict, "on"));
    EXPECT_FLOAT_EQ(ZODictionary::floatForKey(dict, "level"), 94.5f);
}

INSTANTIATE_TEST_SUITE_P(Locales, ZODictionaryGetters, koru::test::kLocales,
                         koru::test::localeName);

TEST(ZODictionary, MissingKeysGiveTheDefaultOrZero) {
    const QVariantMap empty;
    EXPECT_FLOAT_EQ(ZODictionary::floatValueForKey(empty, "x", 3.5f), 3.5f);
    EXPECT_EQ(ZODictionary::intForKey(empty, "x", -1), -1);
    EXPECT_EQ(ZODictionary::unsignedIntForKey(empty, "x", 9u), 9u);
    EXPECT_TRUE(ZODictionary::boolForKey(empty, "x", true));
    EXPECT_FLOAT_EQ(ZODictionary::floatForKey(empty, "x"), 0.0f);
    EXPECT_EQ(ZODictionary::intForKey(empty, "x"), 0);
    EXPECT_FALSE(ZODictionary::boolForKey(empty, "x"));
    EXPECT_FALSE(ZODictionary::dateForKey(empty, "x").has_value());
}

TEST(ZODictionary, DatesAreReadFromDateEntriesAndOffsetTexts) {
    const QDateTime stored(QDate(2014, 3, 5), QTime(10, 20, 30), QTimeZone::utc());
    const QVariantMap dict{
        {"date", stored},
        {"east", "2014-03-05 11:20:30 +0100"},
        {"west", "2014-03-05 05:50:30 -0430"},
        {"no zone", "2014-03-05 10:20:30"},
        {"bad month", "2014-13-05 10:20:30 +0000"},
        {"number", 5},
    };
    EXPECT_EQ(ZODictionary::dateForKey(dict, "date"), stored);
    EXPECT_EQ(ZODictionary::dateForKey(dict, "east"), stored);
    EXPECT_EQ(ZODictionary::dateForKey(dict, "west"), stored);
    EXPECT_FALSE(ZODictionary::dateForKey(dict, "no zone").has_value());
    EXPECT_FALSE(ZODictionary::dateForKey(dict, "bad month").has_value());
    EXPECT_FALSE(ZODictionary::dateForKey(dict, "number").has_value());
}

TEST(ZODictionary, FontAttributesCarryTheSizeInPixelsAndTheColour) {
    const VETextAttributes red = ZODictionary::fontAttributesDictionaryForSize(11, Qt::red);
    EXPECT_EQ(red.font.pixelSize(), 11);
    EXPECT_EQ(red.color, QColor(Qt::red));
    const VETextAttributes plain = ZODictionary::fontAttributesDictionaryForSize(9);
    EXPECT_EQ(plain.font.pixelSize(), 9);
    EXPECT_EQ(plain.color, VEColor::noBlueColor());
    EXPECT_NEAR(plain.color.redF(), 0.2, 1e-4);
    EXPECT_NEAR(plain.color.greenF(), 0.7, 1e-4);
    EXPECT_NEAR(plain.color.blueF(), 0.9, 1e-4);
}

} // namespace
