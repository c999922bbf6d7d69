#pragma once

#include <QObject>
#include <QPointer>

#include <functional>

namespace koru::framework {

// Keeps a control in step with one property of an object (the overlay's "value" bindings):
// the control writes the property through write(), and the property's notify signal, when it
// has one, brings the new value back through `show`. Owned by the control.
class ControlPropertyBinding : public QObject {
    Q_OBJECT
public:
    ControlPropertyBinding(QObject* object, const char* property,
                           std::function<void(const QVariant&)> show, QObject* owner);
    void write(const QVariant& value);
    QVariant read() const;

public slots:
    void refresh();

private:
    QPointer<QObject> mObject;
    QByteArray mProperty;
    std::function<void(const QVariant&)> mShow;
};

} // namespace koru::framework
