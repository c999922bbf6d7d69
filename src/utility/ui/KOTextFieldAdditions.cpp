#include "utility/ui/KOTextFieldAdditions.h"

#include "utility/NumberScanner.h"

#include <QLineEdit>
#include <QMetaMethod>

#include <fmt/format.h>

#include <cmath>

namespace {

// Whether anyone listens to a signal is protected knowledge of QObject; a subclass may name it,
// and the member pointer it names applies to every line edit.
struct ListenerProbe : QLineEdit {
    static bool listensToEditingFinished(const QLineEdit& field) {
        const auto isConnected = &ListenerProbe::isSignalConnected;
        return (field.*isConnected)(QMetaMethod::fromSignal(&QLineEdit::editingFinished));
    }
};

} // namespace

bool KOTextFieldAdditions::hasAction(const QLineEdit& field) {
    return ListenerProbe::listensToEditingFinished(field);
}

bool KOTextFieldAdditions::scrollWheel(QLineEdit& field, QPointF delta) {
    if (field.isReadOnly() || !hasAction(field))
        return false;
    const auto current = koru::utility::NumberScanner::leadingDouble(field.text());
    if (!current)
        return false;
    const float value = float(*current) + float(delta.x() + delta.y());
    if (!std::isfinite(value))
        return true;
    field.setText(QString::fromStdString(fmt::format("{}", value)));
    emit field.editingFinished();
    return true;
}
