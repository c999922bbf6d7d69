#pragma once

#include "platform/fourcc/FourCC.h"

#include <cstdint>
#include <exception>

// Thrown when a float buffer would have no elements or no data to copy or wrap.
class KOBufferException : public std::exception {
public:
    static constexpr std::uint32_t kZeroLength = koru::platform::fourCC("bxzl");
    static constexpr std::uint32_t kNoData = koru::platform::fourCC("bxnc");

    explicit KOBufferException(std::uint32_t code) : mCode(code) {}

    std::uint32_t code() const { return mCode; }
    const char* what() const noexcept override {
        return mCode == kZeroLength ? "KOBufferException: zero length"
                                    : "KOBufferException: no data";
    }

private:
    std::uint32_t mCode;
};
