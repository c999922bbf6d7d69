#pragma once

#include <QByteArray>
#include <QList>
#include <QMetaObject>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <QVariantMap>

#include <memory>
#include <vector>

// Forwards changes of a property of a QObject (a dotted key path such as "meter.peak" walks
// QObject-valued properties) to a method of a target: the method named `selector`, a slot or
// Q_INVOKABLE taking one QVariantMap, the change. A change is seen through the notify signal of
// each property on the path; a property without one is read but never reported. When an object
// on the path is replaced, the observer follows the new one.
//
// The change holds "kind" (1, a new setting), and as the options ask "new" and "old" (invalid
// where the path leads nowhere). The observed object and the target are held weakly: once either
// is gone nothing more is called. The target is called on the thread the change happens on; one
// thread at a time.
class VEKeyValueObserver : public QObject {
    Q_OBJECT
public:
    enum Option : unsigned { New = 0x1, Old = 0x2, Initial = 0x4 };
    static constexpr const char* kKindKey = "kind";
    static constexpr const char* kNewKey = "new";
    static constexpr const char* kOldKey = "old";
    static constexpr int kSettingKind = 1;

    VEKeyValueObserver(QObject* object, const QString& keyPath, QObject* target,
                       const QByteArray& selector, unsigned options);
    ~VEKeyValueObserver() override;

    // Null when `object` is null.
    static std::unique_ptr<VEKeyValueObserver>
    observeObject(QObject* object, const QString& keyPath, QObject* target,
                  const QByteArray& selector, unsigned options);
    // With New, Old and Initial: the target hears the current value at once.
    static std::unique_ptr<VEKeyValueObserver> observeObject(QObject* object,
                                                             const QString& keyPath,
                                                             QObject* target,
                                                             const QByteArray& selector);
    // One observer per key path, each calling the method selectorNameForKeyPath() names.
    static std::vector<std::unique_ptr<VEKeyValueObserver>>
    observeKeyPaths(const QStringList& keyPaths, QObject* object, QObject* target);
    // "volume" -> "volumeChanged", "settings.gain" -> "settingsGainChanged".
    static QByteArray selectorNameForKeyPath(const QString& keyPath);

    // Calls the target's method with the change; false when there is no target or no such method.
    bool didChange(const QVariantMap& change);

    QObject* target() const { return m_target; }
    void setTarget(QObject* target) { m_target = target; }
    QByteArray selector() const { return m_selector; }
    void setSelector(const QByteArray& selector) { m_selector = selector; }
    QObject* observedObject() const { return m_observedObject; }
    // Both observe afresh (without an initial call).
    void setObservedObject(QObject* object);
    QString keyPath() const { return m_keyPath; }
    void setKeyPath(const QString& keyPath);

    // The value at the end of the key path now; invalid where the path leads nowhere.
    QVariant currentValue() const;

private slots:
    void propertyChanged();

private:
    void connectPath();
    void disconnectPath();

    QPointer<QObject> m_observedObject;
    QString m_keyPath;
    QPointer<QObject> m_target;
    QByteArray m_selector;
    unsigned m_options = 0;
    QVariant m_lastValue; // for "old"
    std::vector<QMetaObject::Connection> m_connections;
};
