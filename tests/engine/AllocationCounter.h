#pragma once

#include <cstdint>

namespace koru::test {

// Counts the heap allocations the calling thread makes while the counter lives (the test
// program replaces the global operator new to see them). For checking that audio-thread code
// never allocates.
class AllocationCounter {
public:
    AllocationCounter();
    ~AllocationCounter();
    AllocationCounter(const AllocationCounter&) = delete;
    AllocationCounter& operator=(const AllocationCounter&) = delete;

    std::uint64_t count() const { return mCount; }

private:
    std::uint64_t mCount = 0;
    std::uint64_t* mPrevious;
};

} // namespace koru::test
