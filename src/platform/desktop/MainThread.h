#pragma once

#include <QCoreApplication>
#include <QObject>

namespace koru::platform {

// A bus client created on another thread (say, first used from the background queue) still
// needs its signals and replies on the main thread. Only a parentless object can move.
inline void moveToMainThread(QObject& object) {
    const QCoreApplication* app = QCoreApplication::instance();
    if (!object.parent() && app && object.thread() != app->thread())
        object.moveToThread(app->thread());
}

} // namespace koru::platform
