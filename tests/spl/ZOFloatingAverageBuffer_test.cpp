#include "spl/ZOFloatingAverageBuffer.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

TEST(ZOFloatingAverageBuffer, MovingMeans) {
    struct Case {
        std::uint32_t capacity;
        std::uint32_t length;
        std::vector<float> inputs;
        std::vector<float> means;
    };
    const Case cases[] = {
        // A full-capacity window: the value that leaves shares its slot with the one arriving.
        {4, 4, {1, 2, 3, 4, 5}, {1, 1.5f, 2, 2.5f, 3.5f}},
        {10, 3, {3, 3, 3, 9}, {3, 3, 3, 5}},
        {5, 2, {1, 3, 5, 7, 9, 11, 13}, {1, 2, 4, 6, 8, 10, 12}},
        // A window longer than the ring is cut to it; an empty one holds a single value.
        {3, 8, {3, 6, 9, 12}, {3, 4.5f, 6, 9}},
        {3, 0, {3, 6, 9}, {3, 6, 9}},
    };
    for (const Case& c : cases) {
        ZOFloatingAverageBuffer ring(c.capacity, c.length);
        for (std::size_t i = 0; i < c.inputs.size(); ++i)
            EXPECT_FLOAT_EQ(ring.Add(c.inputs[i]), c.means[i])
                << c.capacity << "/" << c.length << " value " << i;
    }
}

TEST(ZOFloatingAverageBuffer, NaNIsRefusedWithoutATrace) {
    ZOFloatingAverageBuffer ring(4, 2);
    EXPECT_EQ(ring.Add(2.0f), 2.0f);
    EXPECT_EQ(ring.Add(std::numeric_limits<float>::quiet_NaN()), 0.0f);
    EXPECT_EQ(ring.Count(), 1u);
    EXPECT_EQ(ring.Add(4.0f), 3.0f);
    EXPECT_EQ(ring.Add(6.0f), 5.0f);
}

// A new window and a cleared sum both start the mean again from the next value; the values
// stored before never leave a sum they are no longer part of.
TEST(ZOFloatingAverageBuffer, NewWindowAndClearedSumStartAgain) {
    ZOFloatingAverageBuffer ring(8, 4);
    for (int i = 0; i < 6; ++i)
        ring.Add(80.0f);
    ring.SetLength(2);
    EXPECT_EQ(ring.Length(), 2u);
    EXPECT_EQ(ring.Add(60.0f), 60.0f);
    EXPECT_EQ(ring.Add(70.0f), 65.0f);
    EXPECT_EQ(ring.Add(90.0f), 80.0f);

    ring.ClearSum();
    EXPECT_EQ(ring.Add(50.0f), 50.0f);
    EXPECT_EQ(ring.Add(40.0f), 45.0f);
    EXPECT_EQ(ring.Add(30.0f), 35.0f);
}

// Hours of levels through a long window: the running sum must not drift away from the values
// actually in the window.
TEST(ZOFloatingAverageBuffer, RunningSumDoesNotDrift) {
    ZOFloatingAverageBuffer ring(38759, 38759);
    float mean = 0.0f;
    for (std::uint32_t i = 0; i < 5'000'000; ++i)
        mean = ring.Add(60.0f + float(i % 7) * 7.37f + float(i % 3) * 0.013f);
    for (std::uint32_t i = 0; i < 38759; ++i)
        mean = ring.Add(94.3f);
    EXPECT_NEAR(mean, 94.3f, 1e-4f);
}
