#include "utility/VEKeyValueObserver.h"

#include "platform/log/Log.h"

#include <QMetaMethod>
#include <QMetaProperty>

namespace {

// The property of that name, or an invalid one.
QMetaProperty propertyNamed(const QObject& object, const QString& name) {
    const QMetaObject* meta = object.metaObject();
    const int index = meta->indexOfProperty(name.toUtf8().constData());
    return index < 0 ? QMetaProperty() : meta->property(index);
}

} // namespace

VEKeyValueObserver::VEKeyValueObserver(QObject* object, const QString& keyPath, QObject* target,
                                       const QByteArray& selector, unsigned options)
    : m_observedObject(object), m_keyPath(keyPath), m_target(target), m_selector(selector),
      m_options(options) {
    connectPath();
    m_lastValue = currentValue();
    if (m_options & Initial) {
        QVariantMap change{{QString::fromLatin1(kKindKey), kSettingKind}};
        if (m_options & New)
            change.insert(QString::fromLatin1(kNewKey), m_lastValue);
        didChange(change);
    }
}

VEKeyValueObserver::~VEKeyValueObserver() {
    disconnectPath();
}

std::unique_ptr<VEKeyValueObserver>
VEKeyValueObserver::observeObject(QObject* object, const QString& keyPath, QObject* target,
                                  const QByteArray& selector, unsigned options) {
    if (object == nullptr)
        return nullptr;
    return std::make_unique<VEKeyValueObserver>(object, keyPath, target, selector, options);
}

std::unique_ptr<VEKeyValueObserver> VEKeyValueObserver::observeObject(QObject* object,
                                                                      const QString& keyPath,
                                                                      QObject* target,
                                                                      const QByteArray& selector) {
    return observeObject(object, keyPath, target, selector, New | Old | Initial);
}

std::vector<std::unique_ptr<VEKeyValueObserver>>
VEKeyValueObserver::observeKeyPaths(const QStringList& keyPaths, QObject* object, QObject* target) {
    std::vector<std::unique_ptr<VEKeyValueObserver>> observers;
    for (const QString& keyPath : keyPaths) {
        if (auto observer = observeObject(object, keyPath, target, selectorNameForKeyPath(keyPath)))
            observers.push_back(std::move(observer));
    }
    return observers;
}

QByteArray VEKeyValueObserver::selectorNameForKeyPath(const QString& keyPath) {
    const QStringList components = keyPath.split(QLatin1Char('.'));
    QString name = components.front();
    for (qsizetype i = 1; i < components.size(); ++i) {
        const QString& component = components[i];
        if (!component.isEmpty())
            name += component.front().toUpper() + component.mid(1);
    }
    return (name + QStringLiteral("Changed")).toUtf8();
}

bool VEKeyValueObserver::didChange(const QVariantMap& change) {
    QObject* target = m_target;
    if (target == nullptr)
        return false;
    const bool called = QMetaObject::invokeMethod(target, m_selector.constData(),
                                                  Qt::DirectConnection, Q_ARG(QVariantMap, change));
    if (!called) {
        koru::log::warn("key-value observer: {} has no method {}(QVariantMap) for \"{}\"",
                        target->metaObject()->className(), m_selector.toStdString(),
                        m_keyPath.toStdString());
    }
    return called;
}

void VEKeyValueObserver::setObservedObject(QObject* object) {
    disconnectPath();
    m_observedObject = object;
    connectPath();
    m_lastValue = currentValue();
}

void VEKeyValueObserver::setKeyPath(const QString& keyPath) {
    disconnectPath();
    m_keyPath = keyPath;
    connectPath();
    m_lastValue = currentValue();
}

QVariant VEKeyValueObserver::currentValue() const {
    QObject* object = m_observedObject;
    const QStringList components = m_keyPath.split(QLatin1Char('.'));
    for (qsizetype i = 0; object != nullptr && i < components.size(); ++i) {
        const QMetaProperty property = propertyNamed(*object, components[i]);
        if (!property.isValid())
            return {};
        const QVariant value = property.read(object);
        if (i + 1 == components.size())
            return value;
        object = value.value<QObject*>();
    }
    return {};
}

void VEKeyValueObserver::connectPath() {
    static const QMetaMethod slot = staticMetaObject.method(
        staticMetaObject.indexOfSlot(QMetaObject::normalizedSignature("propertyChanged()")));
    QObject* object = m_observedObject;
    const QStringList components = m_keyPath.split(QLatin1Char('.'));
    for (qsizetype i = 0; object != nullptr && i < components.size(); ++i) {
        const QMetaProperty property = propertyNamed(*object, components[i]);
        if (!property.isValid())
            return;
        if (property.hasNotifySignal()) {
            m_connections.push_back(
                connect(object, property.notifySignal(), this, slot, Qt::DirectConnection));
        }
        if (i + 1 < components.size())
            object = property.read(object).value<QObject*>();
    }
}

void VEKeyValueObserver::disconnectPath() {
    for (const QMetaObject::Connection& connection : m_connections)
        disconnect(connection);
    m_connections.clear();
}

void VEKeyValueObserver::propertyChanged() {
    // An object on the path may have been replaced: follow the new one.
    disconnectPath();
    connectPath();
    const QVariant value = currentValue();
    QVariantMap change{{QString::fromLatin1(kKindKey), kSettingKind}};
    if (m_options & New)
        change.insert(QString::fromLatin1(kNewKey), value);
    if (m_options & Old)
        change.insert(QString::fromLatin1(kOldKey), m_lastValue);
    m_lastValue = value;
    didChange(change);
}
