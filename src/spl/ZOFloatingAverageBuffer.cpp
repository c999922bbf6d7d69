#include "spl/ZOFloatingAverageBuffer.h"

#include <algorithm>
#include <cmath>

void ZOFloatingAverageBuffer::Init(std::uint32_t capacity, std::uint32_t length) {
    mStorage.assign(std::max<std::uint32_t>(capacity, 1), 0.0f);
    SetLength(length);
}

void ZOFloatingAverageBuffer::SetLength(std::uint32_t length) {
    // A window of nothing would divide by zero: one value is the shortest mean there is.
    mLength = std::clamp<std::uint32_t>(length, 1, Capacity());
    mCount = 0;
    mSum = 0.0;
}

float ZOFloatingAverageBuffer::Add(float x) {
    if (std::isnan(x))
        return 0.0f;
    ++mCount;
    const std::uint64_t capacity = Capacity();
    // When the window fills the whole ring, the leaving value sits in the slot x goes to: read
    // it first.
    float leaving = 0.0f;
    if (mCount > mLength)
        leaving = mStorage[(mCount - mLength - 1) % capacity];
    mStorage[(mCount - 1) % capacity] = x;
    mSum += double(x) - double(leaving);
    return float(mSum / double(std::min<std::uint64_t>(mCount, mLength)));
}
