#pragma once

#include <QString>

#include <cstdint>
#include <optional>
#include <string_view>

namespace koru::utility {

// Reads the number at the start of a text the way the stored texts expect it, whatever the C
// locale says: leading blanks skipped, an optional sign, decimal digits with a full stop, an
// optional exponent; reading stops at the first character that does not belong to the number.
class NumberScanner {
public:
    // nullopt when the text does not start with a number.
    static std::optional<double> leadingDouble(std::string_view text);
    static std::optional<double> leadingDouble(const QString& text);
    // Digits only (no fraction, no exponent); saturates at the 64-bit limits.
    static std::optional<std::int64_t> leadingInteger(std::string_view text);
    static std::optional<std::int64_t> leadingInteger(const QString& text);
    // The whole text must be an unsigned decimal number.
    static std::optional<std::uint64_t> wholeUnsigned(std::string_view text);

    static std::size_t skipBlanks(std::string_view text);
};

} // namespace koru::utility
