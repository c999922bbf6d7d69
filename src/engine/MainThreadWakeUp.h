#pragma once

#include <functional>
#include <memory>

class QSocketNotifier;

namespace koru {

// Lets a real-time thread get work done on the main thread without allocating, locking or
// touching Qt: wakeUp() adds to an eventfd counter, and a socket notifier on the main thread
// turns the readable descriptor into one call of the handler. Wake-ups that arrive before the
// handler runs fold into that one call.
//
// Construct and destroy on the main thread, which must run a Qt event loop for the handler to
// run; wakeUp() may be called from any thread while the object lives.
class MainThreadWakeUp {
public:
    explicit MainThreadWakeUp(std::function<void()> handler);
    ~MainThreadWakeUp();
    MainThreadWakeUp(const MainThreadWakeUp&) = delete;
    MainThreadWakeUp& operator=(const MainThreadWakeUp&) = delete;

    void wakeUp() noexcept;

private:
    void drainAndRun();

    int mDescriptor = -1;
    std::unique_ptr<QSocketNotifier> mNotifier;
    std::function<void()> mHandler;
};

} // namespace koru
