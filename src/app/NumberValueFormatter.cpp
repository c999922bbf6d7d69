#include "app/NumberValueFormatter.h"

#include <utility>

namespace koru {

NumberValueFormatter::NumberValueFormatter(platform::NumberFormatter formatter)
    : m_formatter(std::move(formatter)) {}

QString NumberValueFormatter::stringFromNumber(double value) const {
    QString text = m_formatter.stringFromNumber(value);
    if (text.isEmpty() || text.front() == u'-' || text.front().isDigit())
        return text; // the common case, without asking the locale
    const QString localMinus = m_formatter.locale().negativeSign();
    if (text.startsWith(localMinus))
        text.replace(0, localMinus.size(), QLatin1Char('-'));
    return text;
}

std::optional<QString> NumberValueFormatter::render(const ExportValue& value) const {
    if (const auto* number = std::get_if<double>(&value))
        return stringFromNumber(*number);
    if (const auto* integer = std::get_if<std::int64_t>(&value))
        return stringFromNumber(static_cast<double>(*integer));
    return std::nullopt;
}

} // namespace koru
