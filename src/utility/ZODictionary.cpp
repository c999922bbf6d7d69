#include "utility/ZODictionary.h"

#include "utility/NumberScanner.h"
#include "utility/VEColor.h"

#include "platform/plist/VariantTypes.h"

#include <QFontDatabase>
#include <QTimeZone>

#include <cmath>
#include <limits>

using koru::platform::isInteger;
using koru::platform::isUnsignedIntegerType;
using koru::utility::NumberScanner;

namespace {

enum class Kind { Missing, Number, Text, Other };

bool isReal(const QVariant& value) {
    return value.typeId() == QMetaType::Double || value.typeId() == QMetaType::Float;
}

// bool counts as a number here: flags are stored as integers as often as integers as flags.
Kind kindOf(const QVariant& value) {
    if (!value.isValid())
        return Kind::Missing;
    if (value.typeId() == QMetaType::Bool || isInteger(value) || isReal(value))
        return Kind::Number;
    if (value.typeId() == QMetaType::QString)
        return Kind::Text;
    return Kind::Other;
}

// The property-list layer hands integers over as 64-bit values, signed or not; a negative number
// may arrive as its unsigned 64-bit pattern.
std::int64_t integerOf(const QVariant& value) {
    if (isUnsignedIntegerType(value.typeId()))
        return static_cast<std::int64_t>(value.toULongLong());
    return value.toLongLong();
}

std::int64_t saturatingInt64(double value) {
    if (std::isnan(value))
        return 0;
    constexpr double limit = 9223372036854775808.0; // 2^63
    if (value >= limit)
        return std::numeric_limits<std::int64_t>::max();
    if (value < -limit)
        return std::numeric_limits<std::int64_t>::min();
    return static_cast<std::int64_t>(value);
}

std::int32_t saturatingInt32(std::int64_t value) {
    return static_cast<std::int32_t>(std::clamp<std::int64_t>(
        value, std::numeric_limits<std::int32_t>::min(), std::numeric_limits<std::int32_t>::max()));
}

std::int64_t wholeNumberOf(const QVariant& value) {
    return isReal(value) ? saturatingInt64(value.toDouble()) : integerOf(value);
}

double realOf(const QVariant& value) {
    return isReal(value) ? value.toDouble() : double(integerOf(value));
}

bool textIsTrue(const QString& text) {
    const QByteArray utf8 = text.toUtf8();
    const std::string_view view(utf8.constData(), std::size_t(utf8.size()));
    std::size_t at = NumberScanner::skipBlanks(view);
    if (at < view.size() && (view[at] == '+' || view[at] == '-'))
        ++at;
    while (at < view.size() && view[at] == '0')
        ++at;
    if (at == view.size())
        return false;
    const char c = view[at];
    return c == 'Y' || c == 'y' || c == 'T' || c == 't' || (c >= '1' && c <= '9');
}

} // namespace

bool ZODictionary::isNumber(const QVariant& value) {
    return kindOf(value) == Kind::Number;
}

float ZODictionary::floatValueForKey(const QVariantMap& dict, const QString& key,
                                     float defaultValue) {
    const QVariant value = dict.value(key);
    switch (kindOf(value)) {
    case Kind::Number:
        return float(realOf(value));
    case Kind::Text:
        return float(NumberScanner::leadingDouble(value.toString()).value_or(0.0));
    default:
        return defaultValue;
    }
}

std::int32_t ZODictionary::intForKey(const QVariantMap& dict, const QString& key,
                                     std::int32_t defaultValue) {
    const QVariant value = dict.value(key);
    switch (kindOf(value)) {
    case Kind::Number:
        return saturatingInt32(wholeNumberOf(value));
    case Kind::Text:
        return saturatingInt32(NumberScanner::leadingInteger(value.toString()).value_or(0));
    default:
        return defaultValue;
    }
}

std::uint32_t ZODictionary::unsignedIntForKey(const QVariantMap& dict, const QString& key,
                                              std::uint32_t defaultValue) {
    const QVariant value = dict.value(key);
    if (kindOf(value) != Kind::Number)
        return defaultValue;
    return static_cast<std::uint32_t>(static_cast<std::uint64_t>(wholeNumberOf(value)));
}

bool ZODictionary::boolForKey(const QVariantMap& dict, const QString& key, bool defaultValue) {
    const QVariant value = dict.value(key);
    switch (kindOf(value)) {
    case Kind::Number:
        return isReal(value) ? value.toDouble() != 0.0 : integerOf(value) != 0;
    case Kind::Text:
        return textIsTrue(value.toString());
    default:
        return defaultValue;
    }
}

std::optional<QDateTime> ZODictionary::dateForKey(const QVariantMap& dict, const QString& key) {
    const QVariant value = dict.value(key);
    if (value.typeId() == QMetaType::QDateTime && value.toDateTime().isValid())
        return value.toDateTime();
    if (value.typeId() == QMetaType::QString)
        return dateFromString(value.toString());
    return std::nullopt;
}

std::optional<QDateTime> ZODictionary::dateFromString(const QString& text) {
    // "YYYY-MM-DD HH:MM:SS +HHMM", exactly.
    const QByteArray utf8 = text.toLatin1();
    const std::string_view s(utf8.constData(), std::size_t(utf8.size()));
    if (s.size() != 25 || s[4] != '-' || s[7] != '-' || s[10] != ' ' || s[13] != ':' ||
        s[16] != ':' || s[19] != ' ' || (s[20] != '+' && s[20] != '-'))
        return std::nullopt;
    const auto field = [&](std::size_t at, std::size_t length) {
        return NumberScanner::wholeUnsigned(s.substr(at, length));
    };
    const auto year = field(0, 4), month = field(5, 2), day = field(8, 2);
    const auto hour = field(11, 2), minute = field(14, 2), second = field(17, 2);
    const auto offsetHours = field(21, 2), offsetMinutes = field(23, 2);
    if (!year || !month || !day || !hour || !minute || !second || !offsetHours || !offsetMinutes)
        return std::nullopt;
    const QDate date{int(*year), int(*month), int(*day)};
    const QTime time{int(*hour), int(*minute), int(*second)};
    if (!date.isValid() || !time.isValid() || *offsetHours > 23 || *offsetMinutes > 59)
        return std::nullopt;
    const int offset = (s[20] == '-' ? -1 : 1) * int(*offsetHours * 3600 + *offsetMinutes * 60);
    return QDateTime(date, time, QTimeZone(offset));
}

VETextAttributes ZODictionary::fontAttributesDictionaryForSize(double size, const QColor& color) {
    QFont font = QFontDatabase::systemFont(QFontDatabase::GeneralFont);
    font.setPixelSize(std::max(1, int(std::lround(size))));
    return {font, color};
}

VETextAttributes ZODictionary::fontAttributesDictionaryForSize(double size) {
    return fontAttributesDictionaryForSize(size, VEColor::noBlueColor());
}
