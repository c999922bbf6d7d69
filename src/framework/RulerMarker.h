#pragma once

#include <QColor>
#include <QString>

namespace koru::framework {

// A handle on a time ruler at a place in the client's document (samples), which the user may
// drag along the ruler when it is movable. The client hears of every move (RulerClient).
struct RulerMarker {
    QString identifier;
    double location = 0.0;
    QColor colour = Qt::white;
    bool movable = true;
};

} // namespace koru::framework
