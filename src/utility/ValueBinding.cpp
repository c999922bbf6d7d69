#include "utility/ValueBinding.h"

#include "platform/exceptions/InternalInconsistencyException.h"
#include "platform/log/Log.h"

namespace koru::utility {

ValueBinding::ValueBinding(QObject& control, const QString& binding, QObject* observedObject,
                           QByteArray keyPath, std::shared_ptr<const ValueTransformer> transformer)
    : QObject(&control), mObservedObject(observedObject), mKeyPath(std::move(keyPath)),
      mTransformer(std::move(transformer)) {
    setObjectName(binding);
}

ValueBinding* ValueBinding::find(const QObject& control, const QString& binding) {
    return control.findChild<ValueBinding*>(binding, Qt::FindDirectChildrenOnly);
}

void ValueBinding::propagateValue(const QObject& control, const QString& binding, QVariant value,
                                  const char* operation) {
    if (binding.isNull()) {
        throw koru::platform::InternalInconsistencyException(
            QStringLiteral("Invalid parameter not satisfying: %1")
                .arg(QStringLiteral("binding != nil")));
    }
    const ValueBinding* info = find(control, binding);
    if (info == nullptr)
        return;
    const std::string name = binding.toStdString();
    if (const ValueTransformer* transformer = info->transformer()) {
        if (transformer->allowsReverseTransformation()) {
            value = transformer->reverseTransformedValue(value);
        } else {
            koru::log::warn("WARNING: binding \"{}\" has value transformer, but it doesn't allow "
                            "reverse transformations in {}",
                            name, operation);
        }
    }
    if (info->observedObject() == nullptr) {
        koru::log::error("ERROR: NSObservedObjectKey was nil for binding \"{}\" in {}", name,
                         operation);
        return;
    }
    if (info->keyPath().isEmpty()) {
        koru::log::error("ERROR: NSObservedKeyPathKey was nil for binding \"{}\" in {}", name,
                         operation);
        return;
    }
    info->observedObject()->setProperty(info->keyPath().constData(), value);
}

} // namespace koru::utility
