#pragma once

#include "NetStatus.h"

#include <QObject>
#include <QTimer>

#include <chrono>
#include <functional>
#include <optional>

namespace koru::netaudio {

// Hands a unit's status changes to a window, on the thread the listener lives on (the GUI
// thread), at most one a second: the first change after a quiet second goes at once, and what
// arrives within the second after it is held back and only its latest value delivered when the
// second is up. A brief "not connected" while a sender restarts is still seen, and a flickering
// connection does not flood the window.
class NetStatusListener : public QObject {
public:
    using Clock = std::function<std::chrono::steady_clock::time_point()>;
    static constexpr std::chrono::milliseconds kInterval{1000};

    // `clock` defaults to the steady clock; tests pass their own.
    explicit NetStatusListener(std::function<void(NetStatus)> deliver, Clock clock = {});
    ~NetStatusListener() override;

    // Any thread: queues the change for the listener's thread.
    void report(NetStatus status);

    // The listener's thread. What report() queues.
    void arrive(NetStatus status);
    // The held-back value, when its second is up; the timer calls it.
    void deliverPending();
    std::optional<NetStatus> pending() const { return mPending; }
    // How long the held-back value still waits.
    std::chrono::milliseconds pendingDelay() const;

private:
    void deliver(NetStatus status);

    std::function<void(NetStatus)> mDeliver;
    Clock mClock;
    QTimer mTimer;
    std::optional<NetStatus> mPending;
    std::optional<NetStatus> mLastValue;
    std::optional<std::chrono::steady_clock::time_point> mLastDelivered;
};

} // namespace koru::netaudio
