#pragma once

#include <QString>
#include <QStringList>
#include <QVariant>
#include <QVariantMap>

// A dictionary whose changes go through overridable operations, so a subclass can act on each.
class ZOMutableDictionary {
public:
    ZOMutableDictionary() = default;
    explicit ZOMutableDictionary(QVariantMap entries)
        : m_realMutableDictionary(std::move(entries)) {}
    virtual ~ZOMutableDictionary() = default;
    ZOMutableDictionary(const ZOMutableDictionary&) = delete;
    ZOMutableDictionary& operator=(const ZOMutableDictionary&) = delete;

    virtual void setObject(const QVariant& object, const QString& key);
    virtual void removeObjectForKey(const QString& key);
    virtual void removeAllObjects();

    QVariant objectForKey(const QString& key) const { return m_realMutableDictionary.value(key); }
    qsizetype count() const { return m_realMutableDictionary.size(); }
    QStringList allKeys() const { return m_realMutableDictionary.keys(); }
    const QVariantMap& dictionary() const { return m_realMutableDictionary; }

protected:
    QVariantMap m_realMutableDictionary;
};
