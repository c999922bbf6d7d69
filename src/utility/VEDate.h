#pragma once

#include <QDateTime>
#include <QLocale>
#include <QString>

#include <optional>

// Date parsing and formatting. The program's stored times are seconds since
// 2001-01-01 00:00:00 UTC (the SPL log records, for one).
class VEDate {
public:
    static constexpr qint64 kReferenceDateUnixSeconds = 978307200;

    static double timeIntervalSinceReferenceDate(const QDateTime& date);
    static QDateTime dateWithTimeIntervalSinceReferenceDate(double seconds);

    // "yyyy-MM-ddTHH:mm:ssZ" in UTC. A text with stray characters around the numbers
    // ("2014 -03- 05T10:20: 30Z") is rebuilt from its six numbers and tried once more.
    static std::optional<QDateTime> dateFromRFCString(const QString& text);
    static QString iso8601String(const QDateTime& date);
    // "EEE, dd MMM yyyy HH:mm:ss zzz" with English names, whatever the user's locale.
    static std::optional<QDateTime> dateFromRFC1123String(const QString& text);

    // True when `date` lies after `other`.
    static bool isNewerThan(const QDateTime& date, const QDateTime& other);
    // Inside [earlier, later] of the two ends, ends included, in either order.
    static bool isBetween(const QDateTime& date, const QDateTime& a, const QDateTime& b);

    // In the current locale unless one is given.
    static QString shortDateString(const QDateTime& date, const QLocale& locale = QLocale());
    static QString shortDateTimeString(const QDateTime& date, const QLocale& locale = QLocale());

    struct YearMonthDay {
        int year;
        int month;
        int day;
    };
    // In the local time zone.
    static YearMonthDay getYearMonthDay(const QDateTime& date);

private:
    static std::optional<QDateTime> strictRFCDate(const QString& text);
};
