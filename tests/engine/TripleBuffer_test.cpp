#include "engine/TripleBuffer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <thread>

using koru::TripleBuffer;

namespace {

// Publishes the values in turn, each written into the back slot first.
void publish(TripleBuffer<int>& buffer, std::initializer_list<int> values) {
    for (const int value : values) {
        buffer.Back() = value;
        buffer.Publish();
    }
}

} // namespace

// The reader gets the newest published value, keeps it however much the writer publishes
// meanwhile (the writer never lands in the reader's slot), and is told when nothing new came.
TEST(TripleBuffer, ReaderTakesTheNewestAndKeepsItWhileTheWriterGoesOn) {
    struct Case {
        int published; // values 1..published before the first take
        int meanwhile; // published after it, before the second take
    };
    const Case cases[] = {{0, 0}, {1, 0}, {1, 1}, {2, 5}, {7, 3}, {3, 8}};
    for (const Case& c : cases) {
        TripleBuffer<int> buffer(0);
        EXPECT_FALSE(buffer.HasFresh());
        for (int v = 1; v <= c.published; ++v)
            publish(buffer, {v});
        EXPECT_EQ(buffer.HasFresh(), c.published > 0) << c.published;
        EXPECT_EQ(buffer.TakeNewest(), c.published > 0) << c.published;
        EXPECT_EQ(buffer.Front(), c.published) << c.published;
        EXPECT_FALSE(buffer.TakeNewest());

        for (int v = 1; v <= c.meanwhile; ++v) {
            publish(buffer, {100 + v});
            ASSERT_EQ(buffer.Front(), c.published) << c.published << " + " << v;
        }
        EXPECT_EQ(buffer.TakeNewest(), c.meanwhile > 0);
        EXPECT_EQ(buffer.Front(), c.meanwhile > 0 ? 100 + c.meanwhile : c.published);
        EXPECT_FALSE(buffer.HasFresh());
    }
}

// A writer thread filling whole slots while a reader takes them: every slot the reader holds is
// one complete result (never half of two), and results only move forward.
TEST(TripleBuffer, ConcurrentReaderSeesOnlyWholeResultsInOrder) {
    using Slot = std::array<std::uint32_t, 256>;
    TripleBuffer<Slot> buffer(Slot{});
    constexpr std::uint32_t kLast = 100000;
    std::thread writer([&] {
        for (std::uint32_t n = 1; n <= kLast; ++n) {
            buffer.Back().fill(n);
            buffer.Publish();
        }
    });
    std::uint32_t previous = 0;
    std::uint32_t torn = 0;
    std::uint32_t backwards = 0;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (previous != kLast && std::chrono::steady_clock::now() < deadline) {
        if (!buffer.TakeNewest())
            continue;
        const Slot& slot = buffer.Front();
        const std::uint32_t n = slot[0];
        torn += std::any_of(slot.begin(), slot.end(), [n](std::uint32_t v) { return v != n; });
        backwards += n <= previous;
        previous = n;
    }
    writer.join();
    EXPECT_EQ(previous, kLast);
    EXPECT_EQ(torn, 0u);
    EXPECT_EQ(backwards, 0u);
}
