#include "utility/VEIntervalFormatter.h"

#include "utility/NumberScanner.h"

#include <QRegularExpression>

#include <algorithm>
#include <limits>

namespace {

bool isNumber(const QVariant& value) {
    switch (value.typeId()) {
    case QMetaType::Double:
    case QMetaType::Float:
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
    case QMetaType::Bool:
        return true;
    default:
        return false;
    }
}

// Digits as a 32-bit integer, saturating as the stored texts' readers do.
std::int32_t integerOf(const QString& digits) {
    const std::int64_t value = koru::utility::NumberScanner::leadingInteger(digits).value_or(0);
    return std::int32_t(std::clamp<std::int64_t>(value, std::numeric_limits<std::int32_t>::min(),
                                                 std::numeric_limits<std::int32_t>::max()));
}

} // namespace

QString VEIntervalFormatter::stringForObjectValue(const QVariant& value) const {
    if (!isNumber(value))
        return QStringLiteral("--:--:--");
    return VEStringFromTimeInterval(value.toDouble());
}

bool VEIntervalFormatter::getCompoundValue(VETimeIntervalComponents& components,
                                           const QString& text) const {
    static const QRegularExpression pattern(regexPattern(),
                                            QRegularExpression::CaseInsensitiveOption);
    if (!pattern.isValid())
        return false;
    const QRegularExpressionMatch match = pattern.match(text);
    if (!match.hasMatch())
        return false;
    components.sign = match.captured(1) == QLatin1String("-") ? -1 : 1;
    components.hours = integerOf(match.captured(2));
    components.minutes = integerOf(match.captured(3));
    components.seconds = integerOf(match.captured(4));
    return true;
}

bool VEIntervalFormatter::getObjectValue(QVariant& value, const QString& text) const {
    VETimeIntervalComponents components;
    if (!getCompoundValue(components, text))
        return false;
    value = VETimeIntervalFromComponents(components);
    return true;
}

bool VEIntervalFormatter::isTimeIntervalString(const QString& text) const {
    QVariant ignored;
    return getObjectValue(ignored, text);
}
