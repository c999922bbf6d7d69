#pragma once

#include <cstdint>
#include <exception>

// Thrown by the interpolation operations when the positions do not match the buffer's length.
class KOMathException : public std::exception {
public:
    static constexpr std::uint32_t kLengthMismatch = 20;

    explicit KOMathException(std::uint32_t code) : mCode(code) {}

    std::uint32_t code() const { return mCode; }
    const char* what() const noexcept override { return "KOMathException: length mismatch"; }

private:
    std::uint32_t mCode;
};
