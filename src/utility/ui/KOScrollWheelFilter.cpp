#include "utility/ui/KOScrollWheelFilter.h"

#include "utility/ui/KOSliderAdditions.h"
#include "utility/ui/KOTextFieldAdditions.h"

#include <QAbstractSpinBox>
#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QSlider>
#include <QWheelEvent>

void KOScrollWheelFilter::installApplicationWide() {
    static KOScrollWheelFilter* installed = nullptr;
    if (installed != nullptr || qApp == nullptr)
        return;
    installed = new KOScrollWheelFilter;
    installed->setParent(qApp);
    qApp->installEventFilter(installed);
}

QPointF KOScrollWheelFilter::wheelUnits(const QWheelEvent& event) {
    return QPointF(event.angleDelta()) / double(QWheelEvent::DefaultDeltasPerStep);
}

// Spin boxes and combo boxes step their own line edits.
bool KOScrollWheelFilter::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() != QEvent::Wheel)
        return QObject::eventFilter(watched, event);
    const QPointF units = wheelUnits(*static_cast<QWheelEvent*>(event));
    if (auto* slider = qobject_cast<QSlider*>(watched)) {
        KOSliderAdditions::scrollWheel(*slider, units);
        return true;
    }
    auto* field = qobject_cast<QLineEdit*>(watched);
    if (field != nullptr && !qobject_cast<QAbstractSpinBox*>(field->parent()) &&
        !qobject_cast<QComboBox*>(field->parent()))
        return KOTextFieldAdditions::scrollWheel(*field, units);
    return QObject::eventFilter(watched, event);
}
