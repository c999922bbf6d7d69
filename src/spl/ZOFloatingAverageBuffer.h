#pragma once

#include <cstdint>
#include <vector>

// A moving arithmetic mean over the last `length` values, in a ring of fixed capacity allocated
// once. The running sum is kept in double so that hours of adding and removing do not drift.
class ZOFloatingAverageBuffer {
public:
    ZOFloatingAverageBuffer(std::uint32_t capacity, std::uint32_t length) {
        Init(capacity, length);
    }

    // Zeroed storage for capacity (at least 1) values, window min(length, capacity).
    void Init(std::uint32_t capacity, std::uint32_t length);
    // A new window, at least 1 and at most the capacity; starts counting again from nothing.
    void SetLength(std::uint32_t length);
    // Starts the mean again from the next value. The count goes with the sum: values that are
    // no longer in the sum must not leave it again later.
    void ClearSum() {
        mSum = 0.0;
        mCount = 0;
    }
    // The mean after adding x; NaN is refused (0 returned, nothing changed).
    float Add(float x);

    std::uint32_t Capacity() const { return std::uint32_t(mStorage.size()); }
    std::uint32_t Length() const { return mLength; }
    std::uint64_t Count() const { return mCount; }

private:
    std::vector<float> mStorage;
    double mSum = 0.0;
    std::uint64_t mCount = 0; // 64 bits: a meter left running for years never wraps
    std::uint32_t mLength = 0;
};
