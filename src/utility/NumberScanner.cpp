#include "utility/NumberScanner.h"

#include <charconv>
#include <limits>

namespace koru::utility {

namespace {

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

bool isBlank(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v';
}

std::size_t skipDigits(std::string_view text, std::size_t at) {
    while (at < text.size() && isDigit(text[at]))
        ++at;
    return at;
}

// Length of the number's mantissa and exponent from `at`; 0 when no digit is there.
std::size_t numberLength(std::string_view text, std::size_t at) {
    const std::size_t intEnd = skipDigits(text, at);
    std::size_t end = intEnd;
    bool digits = intEnd > at;
    if (end < text.size() && text[end] == '.') {
        const std::size_t fracEnd = skipDigits(text, end + 1);
        digits = digits || fracEnd > end + 1;
        end = fracEnd;
    }
    if (!digits)
        return 0;
    if (end < text.size() && (text[end] == 'e' || text[end] == 'E')) {
        std::size_t exp = end + 1;
        if (exp < text.size() && (text[exp] == '+' || text[exp] == '-'))
            ++exp;
        const std::size_t expEnd = skipDigits(text, exp);
        if (expEnd > exp)
            end = expEnd;
    }
    return end - at;
}

} // namespace

std::size_t NumberScanner::skipBlanks(std::string_view text) {
    std::size_t at = 0;
    while (at < text.size() && isBlank(text[at]))
        ++at;
    return at;
}

std::optional<double> NumberScanner::leadingDouble(std::string_view text) {
    std::size_t at = skipBlanks(text);
    bool negative = false;
    if (at < text.size() && (text[at] == '+' || text[at] == '-')) {
        negative = text[at] == '-';
        ++at;
    }
    const std::size_t length = numberLength(text, at);
    if (length == 0)
        return std::nullopt;
    double value = 0.0;
    const auto [ptr, ec] = std::from_chars(text.data() + at, text.data() + at + length, value);
    if (ec == std::errc::result_out_of_range) {
        // from_chars leaves the value alone on overflow; the exponent's sign tells which way.
        const std::string_view number = text.substr(at, length);
        const bool tiny = number.find("e-") != std::string_view::npos ||
                          number.find("E-") != std::string_view::npos;
        value = tiny ? 0.0 : std::numeric_limits<double>::infinity();
    } else if (ec != std::errc()) {
        return std::nullopt;
    }
    return negative ? -value : value;
}

std::optional<double> NumberScanner::leadingDouble(const QString& text) {
    const QByteArray utf8 = text.toUtf8();
    return leadingDouble(std::string_view(utf8.constData(), std::size_t(utf8.size())));
}

std::optional<std::int64_t> NumberScanner::leadingInteger(std::string_view text) {
    std::size_t at = skipBlanks(text);
    bool negative = false;
    if (at < text.size() && (text[at] == '+' || text[at] == '-')) {
        negative = text[at] == '-';
        ++at;
    }
    const std::size_t end = skipDigits(text, at);
    if (end == at)
        return std::nullopt;
    std::uint64_t magnitude = 0;
    const auto [ptr, ec] = std::from_chars(text.data() + at, text.data() + end, magnitude);
    constexpr std::uint64_t maxPositive = std::uint64_t(std::numeric_limits<std::int64_t>::max());
    if (ec == std::errc::result_out_of_range || magnitude > maxPositive + (negative ? 1 : 0))
        return negative ? std::numeric_limits<std::int64_t>::min()
                        : std::numeric_limits<std::int64_t>::max();
    if (negative)
        return magnitude == maxPositive + 1 ? std::numeric_limits<std::int64_t>::min()
                                            : -std::int64_t(magnitude);
    return std::int64_t(magnitude);
}

std::optional<std::int64_t> NumberScanner::leadingInteger(const QString& text) {
    const QByteArray utf8 = text.toUtf8();
    return leadingInteger(std::string_view(utf8.constData(), std::size_t(utf8.size())));
}

std::optional<std::uint64_t> NumberScanner::wholeUnsigned(std::string_view text) {
    if (text.empty() || skipDigits(text, 0) != text.size())
        return std::nullopt;
    std::uint64_t value = 0;
    const auto [ptr, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc())
        return std::nullopt;
    return value;
}

} // namespace koru::utility
