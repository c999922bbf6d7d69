#pragma once

#include <atomic>
#include <thread>

namespace koru::platform {

// Stands between a sound library's thread and the object its callback reaches. Once closed, no
// call gets through, and close() returns only when none is under way, so the object may go. The
// gate itself must live as long as the library may call: a stream whose library object is kept
// past its own end keeps its gate with it.
class CallbackGate {
public:
    // From the calling thread: true when the call may go on, and then leave() when it is done.
    // Never blocks.
    bool enter() noexcept {
        // Sequentially consistent, like close(): either this call sees the gate closed, or
        // close() sees the call under way.
        m_calls.fetch_add(1);
        if (!m_closed.load())
            return true;
        leave();
        return false;
    }

    void leave() noexcept { m_calls.fetch_sub(1, std::memory_order_release); }

    // Never from a call through this gate. Waits only for calls already past enter(), which
    // neither block nor wait.
    void close() noexcept {
        m_closed.store(true);
        while (m_calls.load() != 0)
            std::this_thread::yield();
    }

private:
    std::atomic<bool> m_closed{false};
    std::atomic<int> m_calls{0};
};

} // namespace koru::platform
