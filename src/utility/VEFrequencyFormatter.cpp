#include "utility/VEFrequencyFormatter.h"

#include "utility/NumberScanner.h"
#include "utility/VEString.h"

using koru::utility::NumberScanner;

QString VEFrequencyFormatter::stringFromNumber(double hertz) {
    return VEString::stringFromFrequency(float(hertz)) + QStringLiteral("Hz");
}

QString VEFrequencyFormatter::stringForObjectValue(const QVariant& value) {
    switch (value.typeId()) {
    case QMetaType::Double:
    case QMetaType::Float:
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
        return stringFromNumber(value.toDouble());
    default:
        return {};
    }
}

double VEFrequencyFormatter::numberFromString(const QString& text) {
    const QStringList pieces = text.split(QLatin1Char('k'));
    if (pieces.size() != 2)
        return double(float(NumberScanner::leadingDouble(text).value_or(0.0)));
    const QString thousands = VEString::trim(pieces[0]);
    const QString rest = VEString::trim(pieces[1]);
    double result = double(float(NumberScanner::leadingDouble(thousands).value_or(0.0))) * 1000.0;
    double weight = 100.0;
    for (const QChar c : rest) {
        const int digit = c >= QLatin1Char('0') && c <= QLatin1Char('9') ? c.unicode() - '0' : 0;
        result += digit * weight;
        weight /= 10.0;
    }
    return result;
}

bool VEFrequencyFormatter::getObjectValue(QVariant& value, const QString& text) {
    value = numberFromString(text);
    return true;
}
