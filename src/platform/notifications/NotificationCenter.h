#pragma once

#include <QString>
#include <QVariant>

#include <functional>
#include <memory>
#include <mutex>
#include <vector>

namespace koru::platform {

// A named in-process notification. `sender` identifies the posting object (observers may filter
// by it); `object` carries a plain value where the notification passes one (a sample rate, say).
struct Notification {
    QString name;
    const void* sender = nullptr;
    QVariant object;
    QVariantMap userInfo;
};

// Observe by name (and optionally by sender), post synchronously on the calling thread, or post
// to the main thread from any thread. An observer removed while a post is under way is not called
// afterwards. Removal waits for the observer's calls under way on other threads, so once it
// returns the callback is not running anywhere and what it uses may go; it never waits for a
// call on its own thread, so an observer may remove itself from its callback. A callback must
// therefore not wait for a thread that may be removing it.
class NotificationCenter {
public:
    using ObserverId = quint64;
    using Callback = std::function<void(const Notification&)>;

    static NotificationCenter& defaultCenter();

    // `sender` null observes every sender.
    ObserverId addObserver(const QString& name, const void* sender, Callback callback);
    void removeObserver(ObserverId id);

    void post(const Notification& notification);
    void post(const QString& name, const void* sender = nullptr, const QVariant& object = {},
              const QVariantMap& userInfo = {});
    // Queues the post on the main (QCoreApplication) thread; returns at once. The centre must
    // outlive the queued post (the default centre always does). Without an application object
    // there is no main loop to queue on, so the post happens at once on the calling thread.
    void postOnMainThread(const Notification& notification);

private:
    // One observer's callback and the calls of it under way; shared with the posts making them.
    class Registration;

    struct Observer {
        ObserverId id;
        QString name;
        const void* sender;
        std::shared_ptr<Registration> registration;
    };
    // Guards m_observers and m_nextId only; never held while calling out, nor together with a
    // registration's lock.
    std::mutex m_mutex;
    std::vector<Observer> m_observers;
    ObserverId m_nextId = 1;
};

// Removes its observer when destroyed; movable.
class ObserverToken {
public:
    ObserverToken() = default;
    ObserverToken(NotificationCenter& center, NotificationCenter::ObserverId id)
        : m_center(&center), m_id(id) {}
    ObserverToken(ObserverToken&& other) noexcept { *this = std::move(other); }
    ObserverToken& operator=(ObserverToken&& other) noexcept;
    ObserverToken(const ObserverToken&) = delete;
    ObserverToken& operator=(const ObserverToken&) = delete;
    ~ObserverToken() { reset(); }
    void reset();

private:
    NotificationCenter* m_center = nullptr;
    NotificationCenter::ObserverId m_id = 0;
};

// Convenience: observe on the default centre and get a token that removes the observer.
ObserverToken observeNotification(const QString& name, const void* sender,
                                  NotificationCenter::Callback callback);

} // namespace koru::platform
