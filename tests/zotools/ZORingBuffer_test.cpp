#include "zotools/ZORingBuffer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>

namespace {

// Pushes 0, 1, 2, ... so every stored value names the push that wrote it.
template <std::size_t N> ZORingBuffer<float, N> ringAfter(std::uint64_t pushes) {
    ZORingBuffer<float, N> ring;
    for (std::uint64_t i = 0; i < pushes; ++i) {
        ring.Push(float(i));
    }
    return ring;
}

TEST(ZORingBuffer, PositionsFollowTheSpareSlotRule) {
    struct Case {
        std::uint64_t pushes, write, read;
        std::size_t count;
    };
    const Case cases[] = {
        {0, 0, 0, 0},          {1, 1, 0, 1},       {2499, 2499, 0, 2499},
        {2500, 2500, 0, 2500}, {2501, 0, 1, 2500}, {2502, 1, 2, 2500},
        {5002, 0, 1, 2500},    {5003, 1, 2, 2500}, {7777, 7777 % 2501, 7777 % 2501 + 1, 2500},
    };
    for (const Case& c : cases) {
        const auto ring = ringAfter<2500>(c.pushes);
        EXPECT_EQ(ring.position(), c.write) << c.pushes;
        EXPECT_EQ(ring.readPosition(), c.read) << c.pushes;
        EXPECT_EQ(ring.count(), c.count) << c.pushes;
    }
}

// The walk a plot makes, newest first, for every fill around two wraps of a small ring: each
// value is the one pushed `age` pushes earlier, and no walk reaches past the stored values.
TEST(ZORingBuffer, WalkFromTheNewestSeesExactlyTheStoredValues) {
    constexpr std::size_t kN = 4;
    for (std::uint64_t pushes = 0; pushes <= 3 * (kN + 1); ++pushes) {
        const auto ring = ringAfter<kN>(pushes);
        const std::size_t expected = std::size_t(std::min<std::uint64_t>(pushes, kN));
        ASSERT_EQ(ring.count(), expected) << pushes;
        ASSERT_LE(ring.size(), kN + 1);
        for (std::size_t age = 0; age < ring.count(); ++age) {
            EXPECT_EQ(ring.newest(age), float(pushes - 1 - age)) << pushes << " age " << age;
        }
        if (ring.count() > 0) {
            EXPECT_EQ(ring.data()[(ring.readPosition())], float(pushes - ring.count()))
                << "the read position names the oldest value";
        }
    }
}

TEST(ZORingBuffer, AfterOneWrapTheFirstValueIsSpareThenOverwritten) {
    auto ring = ringAfter<2500>(2501);
    EXPECT_EQ(ring.data()[0], 0.0f) << "still in the spare slot";
    EXPECT_EQ(ring.newest(ring.count() - 1), 1.0f) << "but no longer walked";
    ring.Push(2501.0f);
    EXPECT_EQ(ring.data()[0], 2501.0f);
    EXPECT_EQ(ring.newest(0), 2501.0f);
}

} // namespace
