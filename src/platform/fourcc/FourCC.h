#pragma once

#include <QString>

#include <cstdint>

namespace koru::platform {

// Four-character codes as the enumerations use them: 'hann' is 0x68616e6e.
constexpr std::uint32_t fourCC(const char (&code)[5]) {
    return (std::uint32_t(std::uint8_t(code[0])) << 24) |
           (std::uint32_t(std::uint8_t(code[1])) << 16) |
           (std::uint32_t(std::uint8_t(code[2])) << 8) | std::uint32_t(std::uint8_t(code[3]));
}

// "hann" for 0x68616e6e; non-printable bytes show as '?'.
QString fourCCToString(std::uint32_t code);
// 0 when the text is not exactly four Latin-1 characters.
std::uint32_t fourCCFromString(const QString& text);

} // namespace koru::platform
