#include "ControlPropertyBinding.h"

#include <QMetaProperty>
#include <QVariant>

namespace koru::framework {

ControlPropertyBinding::ControlPropertyBinding(QObject* object, const char* property,
                                               std::function<void(const QVariant&)> show,
                                               QObject* owner)
    : QObject(owner), mObject(object), mProperty(property), mShow(std::move(show)) {
    if (object == nullptr) {
        return;
    }
    const QMetaObject* meta = object->metaObject();
    const int index = meta->indexOfProperty(property);
    if (index >= 0 && meta->property(index).hasNotifySignal()) {
        const int refreshSlot = metaObject()->indexOfSlot("refresh()");
        QMetaObject::connect(object, meta->property(index).notifySignalIndex(), this, refreshSlot);
    }
    refresh();
}

void ControlPropertyBinding::write(const QVariant& value) {
    if (mObject != nullptr) {
        mObject->setProperty(mProperty.constData(), value);
    }
}

QVariant ControlPropertyBinding::read() const {
    return mObject != nullptr ? mObject->property(mProperty.constData()) : QVariant();
}

void ControlPropertyBinding::refresh() {
    const QVariant value = read();
    if (value.isValid() && mShow) {
        mShow(value);
    }
}

} // namespace koru::framework
