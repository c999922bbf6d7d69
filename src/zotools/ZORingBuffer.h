#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

// A fixed ring of display values: N + 1 slots, one of them spare, so a full ring holds the N
// newest values. The owner fills it and the plots read it on the same thread (the collector's);
// it has no lock of its own and never allocates.
//
// Readers walk from the newest value backwards with newest(age). Reading through the raw slots
// is possible too, but only count() values are stored: while the ring is filling, the write
// position is also the number of values and names no stored slot.
template <typename T, std::size_t N> class ZORingBuffer {
    static_assert(N > 0, "a ring needs room for one value");

public:
    static constexpr std::size_t kSlots = N + 1;

    void Push(T value) {
        if (mFilled < kSlots) {
            mSlots[mFilled++] = value;
            mWrite = (mWrite + 1) % kSlots;
            if (mWrite == mRead) {
                mRead = (mWrite + 1) % mFilled;
            }
            return;
        }
        mSlots[mWrite] = value;
        mWrite = (mWrite + 1) % kSlots;
        mRead = (mWrite + 1) % kSlots;
    }

    // Index of the oldest stored value.
    std::uint64_t readPosition() const { return mRead; }
    // Index of the slot the next value goes to.
    std::uint64_t position() const { return mWrite; }
    // Values a reader may walk: at most N.
    std::size_t count() const { return std::size_t((mWrite + kSlots - mRead) % kSlots); }
    static constexpr std::size_t capacity() { return N; }

    // The value `age` pushes before the newest; age must be below count().
    T newest(std::size_t age) const {
        return mSlots[(mWrite + kSlots - 1 - age % kSlots) % kSlots];
    }

    const T* data() const { return mSlots.data(); }
    // Slots written so far (N + 1 once the ring has wrapped).
    std::size_t size() const { return mFilled; }

private:
    std::uint64_t mRead = 0;
    std::uint64_t mWrite = 0;
    std::size_t mFilled = 0;
    std::array<T, kSlots> mSlots{};
};
