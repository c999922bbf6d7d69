#include "platform/audio/CallbackGate.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

using koru::platform::CallbackGate;

namespace {

// Stands in for a sound library's thread calling back as fast as it can, as one whose server
// died does: each call that gets through works on `touched` for a while, so a close is likely
// to land in the middle of one.
class CallingThread {
public:
    explicit CallingThread(CallbackGate& gate)
        : m_thread([this, &gate] {
              while (!m_stop.load()) {
                  if (gate.enter()) {
                      for (int i = 0; i < 64; ++i)
                          touched.fetch_add(1, std::memory_order_relaxed);
                      gate.leave();
                  }
                  attempts.fetch_add(1);
              }
          }) {}
    ~CallingThread() {
        m_stop = true;
        m_thread.join();
    }

    void waitForAttempts(long count) const {
        while (attempts.load() < count)
            std::this_thread::yield();
    }

    std::atomic<long> touched{0};
    std::atomic<long> attempts{0};

private:
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
};

} // namespace

TEST(CallbackGate, NothingGetsThroughOnceCloseReturns) {
    CallbackGate gate;
    CallingThread caller(gate);
    caller.waitForAttempts(1000);
    ASSERT_GT(caller.touched.load(), 0) << "calls get through an open gate";

    gate.close();
    // A close that did not wait for the call under way lets it go on touching.
    const long atClose = caller.touched.load();
    caller.waitForAttempts(caller.attempts.load() + 1000);
    EXPECT_EQ(caller.touched.load(), atClose);
}

TEST(CallbackGate, CloseReturnsOnlyAfterTheCallUnderWayLeaves) {
    CallbackGate gate;
    ASSERT_TRUE(gate.enter());
    std::atomic<bool> closeReturned{false};
    std::thread closer([&] {
        gate.close();
        closeReturned = true;
    });

    // A new call is refused as soon as the gate is closing, the one under way goes on.
    while (!closeReturned.load() && gate.enter())
        gate.leave();
    // A close that did not wait would return in the meantime.
    bool sawCloseReturn = false;
    for (int i = 0; i < 20000 && !sawCloseReturn; ++i) {
        sawCloseReturn = closeReturned.load();
        std::this_thread::yield();
    }
    gate.leave();
    closer.join();
    EXPECT_FALSE(sawCloseReturn);
    EXPECT_TRUE(closeReturned.load());
    EXPECT_FALSE(gate.enter());
}
