#include "platform/notifications/NotificationCenter.h"

#include "platform/desktop/MainThread.h"
#include "platform/log/Log.h"

#include <QCoreApplication>
#include <QScopeGuard>

#include <algorithm>
#include <condition_variable>
#include <exception>
#include <thread>
#include <utility>
#include <vector>

namespace koru::platform {

class NotificationCenter::Registration {
public:
    explicit Registration(Callback callback) : m_callback(std::move(callback)) {}

    // Calls back unless removed; removal waits until this returns (unless on this thread).
    void call(const Notification& notification) {
        {
            std::lock_guard lock(m_mutex);
            if (!m_alive)
                return;
            m_callers.push_back(std::this_thread::get_id());
        }
        const auto done = qScopeGuard([this] { leave(); });
        m_callback(notification);
    }

    void remove() {
        std::unique_lock lock(m_mutex);
        m_alive = false;
        const auto self = std::this_thread::get_id();
        m_left.wait(lock, [&] {
            return std::all_of(m_callers.begin(), m_callers.end(),
                               [&](std::thread::id caller) { return caller == self; });
        });
    }

private:
    void leave() {
        std::lock_guard lock(m_mutex);
        m_callers.erase(std::find(m_callers.begin(), m_callers.end(), std::this_thread::get_id()));
        m_left.notify_all();
    }

    const Callback m_callback;
    std::mutex m_mutex; // guards m_alive and m_callers
    std::condition_variable m_left;
    bool m_alive = true;
    std::vector<std::thread::id> m_callers; // one entry per call under way
};

NotificationCenter& NotificationCenter::defaultCenter() {
    static NotificationCenter* const center = new NotificationCenter;
    return *center;
}

NotificationCenter::ObserverId
NotificationCenter::addObserver(const QString& name, const void* sender, Callback callback) {
    std::lock_guard lock(m_mutex);
    const ObserverId id = m_nextId++;
    m_observers.push_back({id, name, sender, std::make_shared<Registration>(std::move(callback))});
    return id;
}

void NotificationCenter::removeObserver(ObserverId id) {
    std::shared_ptr<Registration> removed;
    {
        std::lock_guard lock(m_mutex);
        const auto it = std::find_if(m_observers.begin(), m_observers.end(),
                                     [id](const Observer& o) { return o.id == id; });
        if (it == m_observers.end())
            return;
        removed = std::move(it->registration);
        m_observers.erase(it);
    }
    removed->remove();
}

void NotificationCenter::post(const Notification& notification) {
    std::vector<std::shared_ptr<Registration>> calls;
    {
        std::lock_guard lock(m_mutex);
        for (const Observer& o : m_observers) {
            if (o.name != notification.name)
                continue;
            if (o.sender && o.sender != notification.sender)
                continue;
            calls.push_back(o.registration);
        }
    }
    // An earlier observer of this very post may have removed a later one (or a callback itself).
    for (const auto& registration : calls)
        registration->call(notification);
}

void NotificationCenter::post(const QString& name, const void* sender, const QVariant& object,
                              const QVariantMap& userInfo) {
    post(Notification{name, sender, object, userInfo});
}

void NotificationCenter::postOnMainThread(const Notification& notification) {
    QCoreApplication* app = QCoreApplication::instance();
    if (!app) {
        koru::log::warn("No application object: posting \"{}\" on the calling thread",
                        notification.name.toStdString());
        post(notification);
        return;
    }
    postToMainThread(app, [this, notification] {
        // Nothing may escape into the event loop.
        try {
            post(notification);
        } catch (const std::exception& e) {
            koru::log::error("Observer of \"{}\" threw: {}", notification.name.toStdString(),
                             e.what());
        } catch (...) {
            koru::log::error("Observer of \"{}\" threw", notification.name.toStdString());
        }
    });
}

ObserverToken& ObserverToken::operator=(ObserverToken&& other) noexcept {
    if (this == &other)
        return *this;
    reset();
    m_center = std::exchange(other.m_center, nullptr);
    m_id = std::exchange(other.m_id, 0);
    return *this;
}

void ObserverToken::reset() {
    if (m_center)
        m_center->removeObserver(m_id);
    m_center = nullptr;
    m_id = 0;
}

ObserverToken observeNotification(const QString& name, const void* sender,
                                  NotificationCenter::Callback callback) {
    NotificationCenter& center = NotificationCenter::defaultCenter();
    return ObserverToken(center, center.addObserver(name, sender, std::move(callback)));
}

} // namespace koru::platform
