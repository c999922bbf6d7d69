#pragma once

#include <QCoreApplication>
#include <QMetaObject>
#include <QObject>

#include <mutex>
#include <utility>

namespace koru::platform {

// A bus client created on another thread (say, first used from the background queue) still
// needs its signals and replies on the main thread. Only a parentless object can move.
inline void moveToMainThread(QObject& object) {
    const QCoreApplication* app = QCoreApplication::instance();
    if (!object.parent() && app && object.thread() != app->thread())
        object.moveToThread(app->thread());
}

// Serialises handing work to the main thread; see postToMainThread.
inline std::mutex& mainThreadHandOffMutex() {
    static std::mutex handOff;
    return handOff;
}

// Runs `work` in the event loop of `context`'s thread (the main thread for the application
// object), from any thread. Qt's event queue locks inside the library, where the thread checker
// cannot see it; the work is built and posted under a mutex of ours that it takes again before it
// runs, so everything the posting thread wrote is visibly published to the one running it.
template <typename Work> void postToMainThread(QObject* context, Work&& work) {
    const std::lock_guard lock(mainThreadHandOffMutex());
    QMetaObject::invokeMethod(
        context,
        [work = std::forward<Work>(work)]() mutable {
            { const std::lock_guard published(mainThreadHandOffMutex()); }
            work();
        },
        Qt::QueuedConnection);
}

} // namespace koru::platform
