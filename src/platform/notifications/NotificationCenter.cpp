#include "platform/notifications/NotificationCenter.h"

#include "platform/log/Log.h"

#include <QCoreApplication>
#include <QMetaObject>

#include <algorithm>
#include <exception>
#include <utility>

namespace koru::platform {

namespace {

struct PendingCall {
    std::shared_ptr<NotificationCenter::Callback> callback;
    std::shared_ptr<std::atomic<bool>> alive;
};

} // namespace

NotificationCenter& NotificationCenter::defaultCenter() {
    static NotificationCenter* const center = new NotificationCenter;
    return *center;
}

NotificationCenter::ObserverId
NotificationCenter::addObserver(const QString& name, const void* sender, Callback callback) {
    std::lock_guard lock(m_mutex);
    const ObserverId id = m_nextId++;
    m_observers.push_back({id, name, sender, std::make_shared<Callback>(std::move(callback)),
                           std::make_shared<std::atomic<bool>>(true)});
    return id;
}

void NotificationCenter::removeObserver(ObserverId id) {
    std::lock_guard lock(m_mutex);
    const auto it = std::find_if(m_observers.begin(), m_observers.end(),
                                 [id](const Observer& o) { return o.id == id; });
    if (it == m_observers.end())
        return;
    it->alive->store(false);
    m_observers.erase(it);
}

void NotificationCenter::post(const Notification& notification) {
    std::vector<PendingCall> calls;
    {
        std::lock_guard lock(m_mutex);
        for (const Observer& o : m_observers) {
            if (o.name != notification.name)
                continue;
            if (o.sender && o.sender != notification.sender)
                continue;
            calls.push_back({o.callback, o.alive});
        }
    }
    // An earlier observer of this very post may have removed a later one (or a callback itself).
    for (const PendingCall& call : calls) {
        if (call.alive->load())
            (*call.callback)(notification);
    }
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
    QMetaObject::invokeMethod(
        app,
        [this, notification] {
            // Nothing may escape into the event loop.
            try {
                post(notification);
            } catch (const std::exception& e) {
                koru::log::error("Observer of \"{}\" threw: {}", notification.name.toStdString(),
                                 e.what());
            } catch (...) {
                koru::log::error("Observer of \"{}\" threw", notification.name.toStdString());
            }
        },
        Qt::QueuedConnection);
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
