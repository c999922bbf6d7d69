#pragma once

#include "utility/ValueTransformer.h"

#include <QByteArray>
#include <QObject>
#include <QPointer>
#include <QString>

#include <memory>

namespace koru::utility {

// One binding of a control: the name of the control's value it carries ("value", say), the model
// object and the property ("key path") that value stands for, and an optional transformer. The
// binding is a child of the control, named after the binding, so a control's bindings go with it.
class ValueBinding : public QObject {
    Q_OBJECT
public:
    ValueBinding(QObject& control, const QString& binding, QObject* observedObject,
                 QByteArray keyPath, std::shared_ptr<const ValueTransformer> transformer = {});

    // The control's binding of that name, or null.
    static ValueBinding* find(const QObject& control, const QString& binding);

    QString binding() const { return objectName(); }
    QObject* observedObject() const { return mObservedObject; }
    void setObservedObject(QObject* object) { mObservedObject = object; }
    QByteArray keyPath() const { return mKeyPath; }
    void setKeyPath(const QByteArray& keyPath) { mKeyPath = keyPath; }
    const ValueTransformer* transformer() const { return mTransformer.get(); }

    // Writes a value the user gave the control through to the model, as the control's binding
    // named `binding` says: reverse-transformed where the transformer allows it, logged and left
    // unwritten where the model object or key path is missing, nothing at all where the control
    // has no such binding. `operation` names the caller in the log lines. A null binding name is
    // a programming error (InternalInconsistencyException).
    static void propagateValue(const QObject& control, const QString& binding, QVariant value,
                               const char* operation);

private:
    QPointer<QObject> mObservedObject;
    QByteArray mKeyPath;
    std::shared_ptr<const ValueTransformer> mTransformer;
};

} // namespace koru::utility
