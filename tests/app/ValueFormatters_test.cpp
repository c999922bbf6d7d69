#include "support/TestSupport.h"

#include "app/DateValueFormatter.h"
#include "app/NumberValueFormatter.h"
#include "platform/formatter/KOStandardNumberFormatters.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

using koru::DateValueFormatter;
using koru::ExportTime;
using koru::ExportValue;
using koru::NumberValueFormatter;
using Style = DateValueFormatter::Style;

namespace {

// 2024-12-10 10:20:30 UTC, a Tuesday.
const ExportTime kTuesday = ExportTime{} + std::chrono::seconds(1733826030);
const QString kNarrowSpace = QStringLiteral("\u202F");

// A spreadsheet reads "−3.3" (U+2212) or a direction mark before the minus as text: whatever the
// locale writes, the number leaves with an ASCII minus.
TEST(NumberValueFormatter, WritesAnAsciiMinusInEveryLocale) {
    for (const char* name : {"C", "de_DE", "sv_SE", "fi_FI", "he_IL", "ar_EG", "fa_IR"}) {
        const QLocale locale(QString::fromLatin1(name));
        koru::platform::NumberFormatter plain(locale);
        plain.setMinimumFractionDigits(1);
        plain.setMaximumFractionDigits(1);
        plain.setDecimalSeparator(".");
        const NumberValueFormatter formatter(plain);

        const std::optional<QString> text = formatter.stringForValue(-3.26);
        ASSERT_TRUE(text.has_value()) << name;
        EXPECT_TRUE(text->startsWith(u'-')) << name << " " << text->toStdString();
        EXPECT_TRUE(text->endsWith(QStringLiteral("3.3"))) << name << " " << text->toStdString();
        for (const QChar c : *text)
            EXPECT_LT(c.unicode(), 0x80) << name << " " << text->toStdString();
        EXPECT_EQ(formatter.stringForValue(3.26).value_or(""), QStringLiteral("3.3")) << name;
    }
}

TEST(NumberValueFormatter, RendersNumbersAndTextsButNoTimes) {
    const NumberValueFormatter formatter(KOStandardNumberFormatters::standardFormatter());
    EXPECT_EQ(formatter.stringForValue(12.34), "12.3");
    EXPECT_EQ(formatter.stringForValue(std::int64_t{-5}), "-5.0");
    EXPECT_EQ(formatter.stringForValue(QStringLiteral("text")), "text");
    EXPECT_EQ(formatter.stringForValue(kTuesday), std::nullopt);
    EXPECT_EQ(formatter.stringForValue(std::monostate{}), std::nullopt);
}

struct DateCase {
    const char* locale;
    Style date;
    Style time;
    QString text;
};

TEST(DateValueFormatter, WritesTheLocalesStyles) {
    const DateCase cases[] = {
        {"en_US", DateValueFormatter::ShortStyle, DateValueFormatter::NoStyle, "12/10/24"},
        {"en_US", DateValueFormatter::MediumStyle, DateValueFormatter::NoStyle, "Dec 10, 2024"},
        {"en_US", DateValueFormatter::FullStyle, DateValueFormatter::NoStyle,
         "Tuesday, December 10, 2024"},
        {"en_US", DateValueFormatter::NoStyle, DateValueFormatter::MediumStyle,
         "10:20:30" + kNarrowSpace + "AM"},
        {"de_DE", DateValueFormatter::ShortStyle, DateValueFormatter::NoStyle, "10.12.24"},
        {"de_DE", DateValueFormatter::LongStyle, DateValueFormatter::NoStyle, "10. Dezember 2024"},
        {"de_DE", DateValueFormatter::NoStyle, DateValueFormatter::MediumStyle, "10:20:30"},
        {"de_DE", DateValueFormatter::NoStyle, DateValueFormatter::LongStyle, "10:20:30 UTC"},
        {"C", DateValueFormatter::ShortStyle, DateValueFormatter::NoStyle, "12/10/24"},
        {"de_DE", DateValueFormatter::NoStyle, DateValueFormatter::NoStyle, ""},
    };
    for (const DateCase& c : cases) {
        DateValueFormatter formatter(QLocale(QString::fromLatin1(c.locale)), c.date, c.time);
        formatter.setTimeZone("UTC");
        EXPECT_EQ(formatter.stringForValue(kTuesday).value_or("(none)"), c.text)
            << c.locale << " " << c.date << " " << c.time;
    }
}

TEST(DateValueFormatter, BothStylesTogetherAndChangedAfterUse) {
    DateValueFormatter formatter(QLocale("de_DE"), DateValueFormatter::MediumStyle,
                                 DateValueFormatter::MediumStyle);
    formatter.setTimeZone("UTC");
    EXPECT_EQ(formatter.stringFromDate(kTuesday), "10.12.2024, 10:20:30");
    formatter.setDateStyle(DateValueFormatter::NoStyle);
    EXPECT_EQ(formatter.stringFromDate(kTuesday), "10:20:30");
    formatter.setTimeZone("Europe/Berlin");
    EXPECT_EQ(formatter.stringFromDate(kTuesday), "11:20:30");
    formatter.setTimeStyle(DateValueFormatter::ShortStyle);
    EXPECT_EQ(formatter.stringFromDate(kTuesday), "11:20");
    EXPECT_EQ(formatter.dateStyle(), DateValueFormatter::NoStyle);
    EXPECT_EQ(formatter.timeStyle(), DateValueFormatter::ShortStyle);
}

TEST(DateValueFormatter, RendersTimesAndTextsButNoNumbers) {
    DateValueFormatter formatter(QLocale("de_DE"), DateValueFormatter::ShortStyle);
    EXPECT_EQ(formatter.stringForValue(1.5), std::nullopt);
    EXPECT_EQ(formatter.stringForValue(std::int64_t{7}), std::nullopt);
    EXPECT_EQ(formatter.stringForValue(QStringLiteral("n/a")), "n/a");
}

// The panel changes a style on the main thread while nothing else should format, but a change
// that does meet a running export must not tear the formatter.
TEST(DateValueFormatter, StyleChangesMeetingFormattingOnAnotherThread) {
    DateValueFormatter formatter(QLocale("de_DE"), DateValueFormatter::ShortStyle);
    formatter.setTimeZone("UTC");
    std::atomic<bool> stop{false};
    std::atomic<int> odd{0};
    std::thread reader([&] {
        while (!stop) {
            const QString text = formatter.stringFromDate(kTuesday);
            if (text != "10.12.24" && text != "10.12.2024")
                ++odd;
        }
    });
    for (int i = 0; i < 2000; ++i)
        formatter.setDateStyle(i % 2 ? DateValueFormatter::ShortStyle
                                     : DateValueFormatter::MediumStyle);
    stop = true;
    reader.join();
    EXPECT_EQ(odd.load(), 0);
}

} // namespace
