#pragma once

#include <Qt>

// The modifier tests of input events. The command key is Ctrl here, the control key Meta and the
// option key Alt.
class VEEventAdditions {
public:
    static bool shiftKeyPressed(Qt::KeyboardModifiers m) { return m.testFlag(Qt::ShiftModifier); }
    static bool controlKeyPressed(Qt::KeyboardModifiers m) { return m.testFlag(Qt::MetaModifier); }
    static bool altKeyPressed(Qt::KeyboardModifiers m) { return m.testFlag(Qt::AltModifier); }
    static bool commandKeyPressed(Qt::KeyboardModifiers m) {
        return m.testFlag(Qt::ControlModifier);
    }
};
