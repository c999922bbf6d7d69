#include "utility/ZOMutableFileDictionary.h"

#include "platform/log/Log.h"
#include "platform/plist/PropertyList.h"

using koru::platform::PlistFormat;
using koru::platform::PropertyList;

ZOMutableFileDictionary::ZOMutableFileDictionary(QString path) : m_path(std::move(path)) {
    if (m_path.isEmpty())
        return;
    const auto read = PropertyList::read(m_path);
    if (read.ok() && read.value.typeId() == QMetaType::QVariantMap)
        m_realMutableDictionary = read.value.toMap();
}

void ZOMutableFileDictionary::setObject(const QVariant& object, const QString& key) {
    ZOMutableDictionary::setObject(object, key);
    triggerChange();
    if (m_delegate)
        m_delegate(*this, key);
}

void ZOMutableFileDictionary::removeObjectForKey(const QString& key) {
    ZOMutableDictionary::removeObjectForKey(key);
    triggerChange();
}

void ZOMutableFileDictionary::removeAllObjects() {
    ZOMutableDictionary::removeAllObjects();
    triggerChange();
}

bool ZOMutableFileDictionary::triggerChange() {
    if (m_path.isEmpty())
        return true;
    QString error;
    if (PropertyList::write(m_path, m_realMutableDictionary, PlistFormat::Xml, &error))
        return true;
    koru::log::error("could not write {}: {}", m_path.toStdString(), error.toStdString());
    return false;
}
