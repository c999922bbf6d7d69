#pragma once

#include <atomic>
#include <functional>
#include <mutex>

namespace koru::netaudio {

// The connection states both ends report, as numbered on the wire of the user interface.
enum class NetStatus : int {
    NotConnected = 0,
    Connected = 1,
    Overflow = 2,
    Underflow = 3,
    Connecting = 4,
    Listening = 5
};

const char* netStatusText(int status); // null outside 0..5

// The current status and whoever wants to hear of changes (called on the network thread).
class StatusCell {
public:
    explicit StatusCell(NetStatus initial) : mValue(int(initial)) {}
    NetStatus get() const { return NetStatus(mValue.load(std::memory_order_acquire)); }
    void set(NetStatus status) {
        if (mValue.exchange(int(status), std::memory_order_acq_rel) == int(status))
            return;
        std::lock_guard lock(mMutex);
        if (mListener)
            mListener(status);
    }
    void setListener(std::function<void(NetStatus)> listener) {
        std::lock_guard lock(mMutex);
        mListener = std::move(listener);
    }

private:
    std::atomic<int> mValue;
    std::mutex mMutex; // guards the listener only
    std::function<void(NetStatus)> mListener;
};

} // namespace koru::netaudio
