#pragma once

#include <cstdint>

// The element count shared by the float and complex buffers.
class KOBuffer {
public:
    std::uint32_t Length() const { return mLength; }

protected:
    explicit KOBuffer(std::uint32_t length) : mLength(length) {}
    ~KOBuffer() = default;

    std::uint32_t mLength;
};
