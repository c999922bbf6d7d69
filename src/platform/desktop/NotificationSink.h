#pragma once

#include <QString>
#include <QVariant>

#include <functional>

namespace koru::platform {

// One user notification as the program hands it to the desktop.
struct UserNotification {
    QString title;
    QString body;
    // Handed back to the click handler when the user clicks the notification; never leaves the
    // process. Invalid when a click means nothing.
    QVariant context;
    // A later notification with the same key takes this one's place on screen instead of
    // piling up beside it. Empty: always a new notification.
    QString replaceKey;
    // Stays on screen until the user dismisses it.
    bool sticky = false;
};

// Where user notifications go: the desktop's notification service in the program, a recorder in
// tests. post() and removeAll() may be called from any thread; the click handler runs on the
// main thread.
class NotificationSink {
public:
    using ClickHandler = std::function<void(const QVariant& context)>;

    virtual ~NotificationSink() = default;
    virtual void post(const UserNotification& notification) = 0;
    // Withdraws every notification of ours that is still on screen.
    virtual void removeAll() = 0;
    virtual void setClickHandler(ClickHandler handler) = 0;
};

} // namespace koru::platform
