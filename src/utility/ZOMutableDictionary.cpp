#include "utility/ZOMutableDictionary.h"

void ZOMutableDictionary::setObject(const QVariant& object, const QString& key) {
    m_realMutableDictionary.insert(key, object);
}

void ZOMutableDictionary::removeObjectForKey(const QString& key) {
    m_realMutableDictionary.remove(key);
}

void ZOMutableDictionary::removeAllObjects() {
    m_realMutableDictionary.clear();
}
