#pragma once

#include <array>
#include <atomic>
#include <cstdint>

namespace koru {

// Three slots that pass results from one writer to one reader without either waiting: the
// writer fills its back slot and publishes it by swapping it with the middle one; the reader
// swaps the middle slot for its front slot only when a newer one was published. The writer never
// waits and never skips; the reader always holds the newest complete result, and a slot is never
// written while the reader holds it.
//
// One writer thread at a time and one reader at a time: readers on several threads serialise
// among themselves (the owner's lock), which the writer never takes. The swaps and the look for
// a fresh result are sequentially consistent, so an owner's own sequentially consistent flag
// (raised after Publish, cleared before HasFresh) never misses a result.
template <typename T> class TripleBuffer {
public:
    // The three slots start as copies of `initial`; the reader's front is one of them.
    explicit TripleBuffer(const T& initial) : mSlots{initial, initial, initial} {}
    TripleBuffer(const TripleBuffer&) = delete;
    TripleBuffer& operator=(const TripleBuffer&) = delete;

    // Writer side.
    T& Back() { return mSlots[mBack]; }
    void Publish() { mBack = mMiddle.exchange(std::uint8_t(mBack | kFresh)) & kIndexMask; }

    // Reader side. Whether a result was published since the reader last took one.
    bool HasFresh() const { return (mMiddle.load() & kFresh) != 0; }
    // Takes the newest published result into the front; false (front unchanged) when nothing
    // new came.
    bool TakeNewest() {
        if (!HasFresh())
            return false;
        mFront = mMiddle.exchange(mFront) & kIndexMask;
        return true;
    }
    const T& Front() const { return mSlots[mFront]; }

private:
    static constexpr std::uint8_t kIndexMask = 0x3;
    static constexpr std::uint8_t kFresh = 0x4;

    std::array<T, 3> mSlots;
    std::uint8_t mBack = 0;               // writer only
    std::uint8_t mFront = 1;              // reader only
    std::atomic<std::uint8_t> mMiddle{2}; // index, plus kFresh while the reader has not taken it
};

} // namespace koru
