#pragma once

#include <QPointF>

class QLineEdit;

// Scroll-wheel stepping of numeric text fields: one wheel unit changes the number by 1, upwards
// and to the left increase it. Only an editable field with an action (something listening to
// its editingFinished) reacts; it then sends that action, as ending an edit would. A field whose
// text does not start with a number leaves the event to others. Main thread only.
class KOTextFieldAdditions {
public:
    // Answers whether the field took the event.
    static bool scrollWheel(QLineEdit& field, QPointF delta);
    static bool hasAction(const QLineEdit& field);
};
