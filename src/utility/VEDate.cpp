#include "utility/VEDate.h"

#include "utility/NumberScanner.h"

#include <QRegularExpression>
#include <QTimeZone>

#include <cmath>

using koru::utility::NumberScanner;

double VEDate::timeIntervalSinceReferenceDate(const QDateTime& date) {
    return double(date.toMSecsSinceEpoch()) / 1000.0 - double(kReferenceDateUnixSeconds);
}

QDateTime VEDate::dateWithTimeIntervalSinceReferenceDate(double seconds) {
    const auto msecs = qint64(std::llround((seconds + double(kReferenceDateUnixSeconds)) * 1000.0));
    return QDateTime::fromMSecsSinceEpoch(msecs, QTimeZone::utc());
}

std::optional<QDateTime> VEDate::strictRFCDate(const QString& text) {
    const QByteArray latin = text.toLatin1();
    const std::string_view s(latin.constData(), std::size_t(latin.size()));
    if (s.size() != 20 || s[4] != '-' || s[7] != '-' || s[10] != 'T' || s[13] != ':' ||
        s[16] != ':' || s[19] != 'Z')
        return std::nullopt;
    const auto field = [&](std::size_t at, std::size_t length) {
        return NumberScanner::wholeUnsigned(s.substr(at, length));
    };
    const auto year = field(0, 4), month = field(5, 2), day = field(8, 2);
    const auto hour = field(11, 2), minute = field(14, 2), second = field(17, 2);
    if (!year || !month || !day || !hour || !minute || !second)
        return std::nullopt;
    const QDate date{int(*year), int(*month), int(*day)};
    const QTime time{int(*hour), int(*minute), int(*second)};
    if (!date.isValid() || !time.isValid())
        return std::nullopt;
    return QDateTime(date, time, QTimeZone::utc());
}

std::optional<QDateTime> VEDate::dateFromRFCString(const QString& text) {
    if (auto date = strictRFCDate(text))
        return date;
    static const QRegularExpression pattern(QStringLiteral(
        R"(.*(\d{4}).*-.*(\d{2}).*-.*(\d{2}).*T.*(\d{2}).*:.*(\d{2}).*:\s*(\d{2}).*Z.*)"));
    const QRegularExpressionMatch match = pattern.match(text);
    if (!match.hasMatch())
        return std::nullopt;
    const QString rebuilt = QStringLiteral("%1-%2-%3T%4:%5:%6Z")
                                .arg(match.captured(1), match.captured(2), match.captured(3),
                                     match.captured(4), match.captured(5), match.captured(6));
    // Only once: a well-shaped but impossible date must fail here, not come round again.
    return strictRFCDate(rebuilt);
}

QString VEDate::iso8601String(const QDateTime& date) {
    return date.toUTC().toString(QStringLiteral("yyyy-MM-dd'T'HH:mm:ss'Z'"));
}

std::optional<QDateTime> VEDate::dateFromRFC1123String(const QString& text) {
    // Qt's English parse handles the names; the zone is "GMT"/"UTC" or a numeric offset.
    const QLocale english = QLocale::c();
    const qsizetype lastBlank = text.lastIndexOf(QLatin1Char(' '));
    if (lastBlank < 0)
        return std::nullopt;
    const QString stamp = text.left(lastBlank);
    const QString zone = text.mid(lastBlank + 1);
    QDateTime date = english.toDateTime(stamp, QStringLiteral("ddd, dd MMM yyyy HH:mm:ss"));
    if (!date.isValid())
        return std::nullopt;
    if (zone == QLatin1String("GMT") || zone == QLatin1String("UTC") ||
        zone == QLatin1String("Z")) {
        date.setTimeZone(QTimeZone::utc());
        return date;
    }
    const QByteArray offset = zone.toLatin1();
    if (offset.size() != 5 || (offset[0] != '+' && offset[0] != '-'))
        return std::nullopt;
    const auto hours = NumberScanner::wholeUnsigned(std::string_view(offset.constData() + 1, 2));
    const auto minutes = NumberScanner::wholeUnsigned(std::string_view(offset.constData() + 3, 2));
    if (!hours || !minutes || *hours > 23 || *minutes > 59)
        return std::nullopt;
    const int seconds = (offset[0] == '-' ? -1 : 1) * int(*hours * 3600 + *minutes * 60);
    date.setTimeZone(QTimeZone(seconds));
    return date;
}

bool VEDate::isNewerThan(const QDateTime& date, const QDateTime& other) {
    return date > other;
}

bool VEDate::isBetween(const QDateTime& date, const QDateTime& a, const QDateTime& b) {
    const QDateTime& earlier = a <= b ? a : b;
    const QDateTime& later = a <= b ? b : a;
    return date >= earlier && date <= later;
}

QString VEDate::shortDateString(const QDateTime& date, const QLocale& locale) {
    return locale.toString(date.toLocalTime().date(), QLocale::ShortFormat);
}

QString VEDate::shortDateTimeString(const QDateTime& date, const QLocale& locale) {
    return locale.toString(date.toLocalTime(), QLocale::ShortFormat);
}

VEDate::YearMonthDay VEDate::getYearMonthDay(const QDateTime& date) {
    const QDate local = date.toLocalTime().date();
    return {local.year(), local.month(), local.day()};
}
