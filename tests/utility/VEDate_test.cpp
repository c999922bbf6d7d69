#include "UtilityTestSupport.h"

#include "utility/VEDate.h"

#include <QTimeZone>

namespace {

using koru::test::LocaleTest;

const QDateTime kMarch5(QDate(2014, 3, 5), QTime(10, 20, 30), QTimeZone::utc());

class VEDateTexts : public LocaleTest {};

TEST_P(VEDateTexts, RfcTextsParseStrictlyOrThroughTheFallbackOnce) {
    const std::vector<std::pair<const char*, std::optional<QDateTime>>> cases = {
        {"2014-03-05T10:20:30Z", kMarch5},
        {"2014 -03- 05T10:20: 30Z", kMarch5},
        {"on 2014-03-05T10:20:30Z!", kMarch5},
        {"2014-13-05T10:20:30Z", std::nullopt}, // well shaped, impossible: no endless retry
        {"2014-02-30T10:20:30Z", std::nullopt},
        {"2014-03-05 10:20:30", std::nullopt},
        {"", std::nullopt},
    };
    for (const auto& [text, expected] : cases)
        EXPECT_EQ(VEDate::dateFromRFCString(text), expected) << text;
}

TEST_P(VEDateTexts, IsoTextIsInUtc) {
    EXPECT_EQ(VEDate::iso8601String(kMarch5), "2014-03-05T10:20:30Z");
    EXPECT_EQ(VEDate::iso8601String(kMarch5.toTimeZone(QTimeZone(3600 * 5))),
              "2014-03-05T10:20:30Z");
    EXPECT_EQ(VEDate::dateFromRFCString(VEDate::iso8601String(kMarch5)), kMarch5);
}

TEST_P(VEDateTexts, Rfc1123ParsesEnglishNamesInAnyLocale) {
    EXPECT_EQ(VEDate::dateFromRFC1123String("Wed, 05 Mar 2014 10:20:30 GMT"), kMarch5);
    EXPECT_EQ(VEDate::dateFromRFC1123String("Wed, 05 Mar 2014 11:20:30 +0100"), kMarch5);
    EXPECT_FALSE(VEDate::dateFromRFC1123String("Mi, 05 Mär 2014 10:20:30 GMT").has_value());
    EXPECT_FALSE(VEDate::dateFromRFC1123String("yesterday").has_value());
}

INSTANTIATE_TEST_SUITE_P(Locales, VEDateTexts, koru::test::kLocales, koru::test::localeName);

TEST(VEDate, ReferenceSecondsCountFrom2001) {
    const QDateTime reference(QDate(2001, 1, 1), QTime(0, 0), QTimeZone::utc());
    EXPECT_DOUBLE_EQ(VEDate::timeIntervalSinceReferenceDate(reference), 0.0);
    EXPECT_DOUBLE_EQ(VEDate::timeIntervalSinceReferenceDate(reference.addSecs(90)), 90.0);
    EXPECT_EQ(VEDate::dateWithTimeIntervalSinceReferenceDate(415707630.0), kMarch5);
}

TEST(VEDate, OrderTests) {
    const QDateTime later = kMarch5.addSecs(1);
    EXPECT_TRUE(VEDate::isNewerThan(later, kMarch5));
    EXPECT_FALSE(VEDate::isNewerThan(kMarch5, later));
    EXPECT_FALSE(VEDate::isNewerThan(kMarch5, kMarch5));

    const QDateTime a = kMarch5.addSecs(-10), b = kMarch5.addSecs(10);
    for (const auto& [date, inside] :
         std::vector<std::pair<QDateTime, bool>>{{kMarch5, true},
                                                 {a, true},
                                                 {b, true},
                                                 {a.addSecs(-1), false},
                                                 {b.addSecs(1), false}}) {
        EXPECT_EQ(VEDate::isBetween(date, a, b), inside);
        EXPECT_EQ(VEDate::isBetween(date, b, a), inside);
    }
}

TEST(VEDate, ShortTextsFollowTheGivenLocale) {
    const QDateTime local(QDate(2014, 3, 5), QTime(10, 20, 30), Qt::LocalTime);
    const QLocale us(QLocale::English, QLocale::UnitedStates);
    EXPECT_EQ(VEDate::shortDateString(local, us), "3/5/14");
    EXPECT_TRUE(VEDate::shortDateTimeString(local, us).startsWith("3/5/14"));
    EXPECT_TRUE(VEDate::shortDateTimeString(local, us).contains("10:20"));
    const QLocale german(QLocale::German, QLocale::Germany);
    EXPECT_EQ(VEDate::shortDateString(local, german), "05.03.14");

    const auto ymd = VEDate::getYearMonthDay(local);
    EXPECT_EQ(ymd.year, 2014);
    EXPECT_EQ(ymd.month, 3);
    EXPECT_EQ(ymd.day, 5);
}

} // namespace
