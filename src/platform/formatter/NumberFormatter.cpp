#include "platform/formatter/NumberFormatter.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <string>
#include <system_error>
#include <utility>

namespace koru::platform {

namespace {

const QString kNaN = QStringLiteral("NaN");
const QString kInfinity = QStringLiteral("\u221E");

struct Digits {
    std::string integer;  // no leading zeros ("" for zero)
    std::string fraction; // as many as the value needs
};

// The shortest fixed-point text that reads back as |value|: rounding starts from the decimal
// number a person would read for this double, not from its binary expansion.
Digits shortestDigits(double magnitude) {
    std::array<char, 512> buffer{}; // the longest fixed-point double needs 327 characters
    const auto result = std::to_chars(buffer.data(), buffer.data() + buffer.size(), magnitude,
                                      std::chars_format::fixed);
    const std::string text(buffer.data(), result.ptr);
    const auto point = text.find('.');
    Digits digits{text.substr(0, point), point == std::string::npos ? "" : text.substr(point + 1)};
    digits.integer.erase(0, digits.integer.find_first_not_of('0'));
    return digits;
}

// Adds one unit in the last place of integer.fraction, carrying as far as needed.
void incrementLastPlace(Digits& digits) {
    for (auto it = digits.fraction.rbegin(); it != digits.fraction.rend(); ++it) {
        if (*it != '9') {
            ++*it;
            return;
        }
        *it = '0';
    }
    for (auto it = digits.integer.rbegin(); it != digits.integer.rend(); ++it) {
        if (*it != '9') {
            ++*it;
            return;
        }
        *it = '0';
    }
    digits.integer.insert(digits.integer.begin(), '1');
}

// Half away from zero on the shortest decimal text, so 0.25 → 0.3 and 0.15 → 0.2 at one digit,
// as a reader rounding the number on screen would expect.
void roundTo(Digits& digits, int maxFraction) {
    const auto keep = static_cast<std::size_t>(maxFraction);
    if (digits.fraction.size() <= keep)
        return;
    const bool up = digits.fraction[keep] >= '5';
    digits.fraction.resize(keep);
    if (up)
        incrementLastPlace(digits);
}

bool isZero(const Digits& digits) {
    const auto zero = [](char c) { return c == '0'; };
    return std::all_of(digits.integer.begin(), digits.integer.end(), zero) &&
           std::all_of(digits.fraction.begin(), digits.fraction.end(), zero);
}

QString grouped(const std::string& integer, const QString& separator) {
    QString text;
    for (std::size_t i = 0; i < integer.size(); ++i) {
        if (i > 0 && (integer.size() - i) % 3 == 0)
            text += separator;
        text += QChar::fromLatin1(integer[i]);
    }
    return text;
}

// Consumes `token` at `pos` when it is there.
bool consume(const QString& text, qsizetype& pos, const QString& token) {
    if (token.isEmpty() || !QStringView(text).sliced(pos).startsWith(token))
        return false;
    pos += token.size();
    return true;
}

bool consumeDigits(const QString& text, qsizetype& pos, std::string& out) {
    const auto start = out.size();
    while (pos < text.size() && text[pos] >= u'0' && text[pos] <= u'9')
        out += static_cast<char>(text[pos++].unicode());
    return out.size() > start;
}

// Digits with group separators between them (never leading).
std::string consumeInteger(const QString& text, qsizetype& pos, const QString& group) {
    std::string digits;
    while (consumeDigits(text, pos, digits) || (!digits.empty() && consume(text, pos, group)))
        continue;
    return digits;
}

} // namespace

NumberFormatter::NumberFormatter(QLocale locale) : m_locale(std::move(locale)) {}

QString NumberFormatter::decimalSeparator() const {
    return m_decimalSeparator.isEmpty() ? m_locale.decimalPoint() : m_decimalSeparator;
}

QString NumberFormatter::stringFromNumber(double value) const {
    if (std::isnan(value))
        return kNaN;
    if (std::isinf(value))
        return value < 0 ? m_locale.negativeSign() + kInfinity : kInfinity;

    const int minFraction = std::max(m_minFraction, 0);
    const int maxFraction = std::max(m_maxFraction, minFraction);
    Digits digits = shortestDigits(std::fabs(value));
    roundTo(digits, maxFraction);
    while (static_cast<int>(digits.fraction.size()) > minFraction && digits.fraction.back() == '0')
        digits.fraction.pop_back();
    digits.fraction.resize(std::max<std::size_t>(digits.fraction.size(), minFraction), '0');
    if (static_cast<int>(digits.integer.size()) < m_minInteger)
        digits.integer.insert(0, m_minInteger - digits.integer.size(), '0');
    if (digits.integer.empty() && digits.fraction.empty())
        digits.integer.push_back('0');

    // A value that rounds to zero reads as zero: "-0.0" would only puzzle.
    QString text = value < 0 && !isZero(digits) ? m_locale.negativeSign() : QString();
    text += m_grouping ? grouped(digits.integer, m_locale.groupSeparator())
                       : QString::fromLatin1(digits.integer);
    if (!digits.fraction.empty() || m_alwaysDecimal)
        text += decimalSeparator() + QString::fromLatin1(digits.fraction);
    return text;
}

std::optional<double> NumberFormatter::numberFromString(const QString& input) const {
    const QString text = input.trimmed();
    if (text == kNaN)
        return std::nan("");
    if (text == kInfinity)
        return HUGE_VAL;

    qsizetype pos = 0;
    std::string ascii;
    if (consume(text, pos, m_locale.negativeSign()) || consume(text, pos, QStringLiteral("-")))
        ascii.push_back('-');
    else if (!consume(text, pos, m_locale.positiveSign()))
        consume(text, pos, QStringLiteral("+"));
    if (QStringView(text).sliced(pos) == kInfinity)
        return ascii.empty() ? HUGE_VAL : -HUGE_VAL;

    const QString decimal = decimalSeparator();
    const QString group =
        m_grouping && m_locale.groupSeparator() != decimal ? m_locale.groupSeparator() : QString();
    const std::string integer = consumeInteger(text, pos, group);
    std::string fraction;
    if (consume(text, pos, decimal))
        consumeDigits(text, pos, fraction);
    if ((integer.empty() && fraction.empty()) || pos != text.size())
        return std::nullopt;
    if (!m_allowsFloats && fraction.find_first_not_of('0') != std::string::npos)
        return std::nullopt;
    ascii += integer.empty() ? "0" : integer;
    if (!fraction.empty())
        ascii += "." + fraction;

    double value = 0;
    const auto [end, error] = std::from_chars(ascii.data(), ascii.data() + ascii.size(), value);
    if (error != std::errc() || end != ascii.data() + ascii.size())
        return std::nullopt;
    return value;
}

} // namespace koru::platform
