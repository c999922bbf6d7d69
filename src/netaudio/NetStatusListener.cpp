#include "NetStatusListener.h"

#include "platform/desktop/MainThread.h"

#include <QMetaObject>
#include <QPointer>

namespace koru::netaudio {

NetStatusListener::NetStatusListener(std::function<void(NetStatus)> deliver, Clock clock)
    : mDeliver(std::move(deliver)), mClock(std::move(clock)) {
    if (!mClock)
        mClock = [] { return std::chrono::steady_clock::now(); };
    mTimer.setSingleShot(true);
    QObject::connect(&mTimer, &QTimer::timeout, this, [this] { deliverPending(); });
}

NetStatusListener::~NetStatusListener() = default;

void NetStatusListener::report(NetStatus status) {
    // Events queued to this object are dropped with it, so none outlives the listener.
    koru::platform::postToMainThread(this, [this, status] { arrive(status); });
}

void NetStatusListener::arrive(NetStatus status) {
    if (!mPending && pendingDelay().count() == 0) {
        deliver(status);
        return;
    }
    mPending = status;
    if (!mTimer.isActive())
        mTimer.start(std::max(pendingDelay(), std::chrono::milliseconds(1)));
}

std::chrono::milliseconds NetStatusListener::pendingDelay() const {
    if (!mLastDelivered)
        return std::chrono::milliseconds(0);
    const auto since = mClock() - *mLastDelivered;
    if (since >= kInterval)
        return std::chrono::milliseconds(0);
    return std::chrono::ceil<std::chrono::milliseconds>(kInterval - since);
}

void NetStatusListener::deliverPending() {
    if (!mPending)
        return;
    const auto wait = pendingDelay();
    if (wait.count() > 0) {
        mTimer.start(wait);
        return;
    }
    const NetStatus status = *mPending;
    mPending.reset();
    if (status != mLastValue)
        deliver(status);
}

void NetStatusListener::deliver(NetStatus status) {
    mLastDelivered = mClock();
    mLastValue = status;
    mDeliver(status);
}

} // namespace koru::netaudio
