#include "platform/archive/KeyedArchive.h"

#include "platform/plist/PropertyList.h"
#include "platform/plist/VariantTypes.h"

#include <limits>
#include <map>
#include <mutex>

namespace koru::platform {

namespace {

const QString classKey = QStringLiteral("$class");

// Factories may be registered from static initialisers on any thread while another thread
// unarchives; the registry lives as long as the process.
class ClassRegistry {
public:
    static ClassRegistry& shared() {
        static auto* registry = new ClassRegistry;
        return *registry;
    }

    void add(const QString& className, KeyedUnarchiver::Factory factory) {
        const std::lock_guard lock(m_mutex);
        m_factories[className] = std::move(factory);
    }

    // A copy, so a factory runs without the lock and may decode nested objects itself.
    KeyedUnarchiver::Factory find(const QString& className) const {
        const std::lock_guard lock(m_mutex);
        const auto it = m_factories.find(className);
        return it == m_factories.end() ? KeyedUnarchiver::Factory() : it->second;
    }

private:
    mutable std::mutex m_mutex;
    std::map<QString, KeyedUnarchiver::Factory> m_factories;
};

QString typeNameOf(const QVariant& value) {
    const char* name = value.typeName();
    return name ? QString::fromLatin1(name) : QStringLiteral("nothing");
}

} // namespace

void KeyedArchiver::encodeBool(const QString& key, bool value) {
    m_dict.insert(key, value);
}

void KeyedArchiver::encodeInt(const QString& key, qint64 value) {
    m_dict.insert(key, QVariant::fromValue(value));
}

void KeyedArchiver::encodeDouble(const QString& key, double value) {
    m_dict.insert(key, value);
}

void KeyedArchiver::encodeString(const QString& key, const QString& value) {
    m_dict.insert(key, value);
}

void KeyedArchiver::encodeData(const QString& key, const QByteArray& value) {
    m_dict.insert(key, value);
}

void KeyedArchiver::encodeValue(const QString& key, const QVariant& value) {
    m_dict.insert(key, value);
}

void KeyedArchiver::encodeObject(const QString& key, const Archivable* object) {
    if (object)
        m_dict.insert(key, encodeToDictionary(*object));
}

// Null entries are left out: an array entry always holds an object.
void KeyedArchiver::encodeObjectArray(const QString& key,
                                      const std::vector<const Archivable*>& objects) {
    QVariantList list;
    list.reserve(static_cast<qsizetype>(objects.size()));
    for (const Archivable* object : objects) {
        if (object)
            list.append(encodeToDictionary(*object));
    }
    m_dict.insert(key, list);
}

QVariantMap KeyedArchiver::encodeToDictionary(const Archivable& object) {
    KeyedArchiver coder;
    object.encodeWithCoder(coder);
    coder.m_dict.insert(classKey, object.archiveClassName());
    return coder.m_dict;
}

QByteArray KeyedArchiver::archivedData(const Archivable& root, QString* error) {
    return PropertyList::serialize(encodeToDictionary(root), PlistFormat::Binary, error);
}

void KeyedUnarchiver::registerClass(const QString& className, Factory factory) {
    ClassRegistry::shared().add(className, std::move(factory));
}

KeyedUnarchiver::KeyedUnarchiver(QVariantMap dictionary) : m_dict(std::move(dictionary)) {}

bool KeyedUnarchiver::containsKey(const QString& key) const {
    return m_dict.contains(key);
}

void KeyedUnarchiver::failWith(const QString& message) {
    // The first fault explains the rest.
    if (m_error.isEmpty())
        m_error = message;
}

bool KeyedUnarchiver::decodeBool(const QString& key, bool defaultValue) {
    const auto it = m_dict.constFind(key);
    if (it == m_dict.constEnd())
        return defaultValue;
    if (it->typeId() != QMetaType::Bool) {
        failWith(QStringLiteral("\"%1\" holds %2, not a bool").arg(key, typeNameOf(*it)));
        return defaultValue;
    }
    return it->toBool();
}

qint64 KeyedUnarchiver::decodeInt(const QString& key, qint64 defaultValue) {
    const auto it = m_dict.constFind(key);
    if (it == m_dict.constEnd())
        return defaultValue;
    if (!isIntegerType(it->typeId())) {
        failWith(QStringLiteral("\"%1\" holds %2, not an integer").arg(key, typeNameOf(*it)));
        return defaultValue;
    }
    if (isUnsignedIntegerType(it->typeId()) &&
        it->toULongLong() > static_cast<quint64>(std::numeric_limits<qint64>::max())) {
        failWith(QStringLiteral("\"%1\" is too large for a signed integer").arg(key));
        return defaultValue;
    }
    return it->toLongLong();
}

double KeyedUnarchiver::decodeDouble(const QString& key, double defaultValue) {
    const auto it = m_dict.constFind(key);
    if (it == m_dict.constEnd())
        return defaultValue;
    const int type = it->typeId();
    if (type != QMetaType::Double && type != QMetaType::Float && !isIntegerType(type)) {
        failWith(QStringLiteral("\"%1\" holds %2, not a number").arg(key, typeNameOf(*it)));
        return defaultValue;
    }
    return it->toDouble();
}

QString KeyedUnarchiver::decodeString(const QString& key, const QString& defaultValue) {
    const auto it = m_dict.constFind(key);
    if (it == m_dict.constEnd())
        return defaultValue;
    if (it->typeId() != QMetaType::QString) {
        failWith(QStringLiteral("\"%1\" holds %2, not a string").arg(key, typeNameOf(*it)));
        return defaultValue;
    }
    return it->toString();
}

QByteArray KeyedUnarchiver::decodeData(const QString& key, const QByteArray& defaultValue) {
    const auto it = m_dict.constFind(key);
    if (it == m_dict.constEnd())
        return defaultValue;
    if (it->typeId() != QMetaType::QByteArray) {
        failWith(QStringLiteral("\"%1\" holds %2, not data").arg(key, typeNameOf(*it)));
        return defaultValue;
    }
    return it->toByteArray();
}

QVariant KeyedUnarchiver::decodeValue(const QString& key) const {
    return m_dict.value(key);
}

std::unique_ptr<Archivable> KeyedUnarchiver::decodeObject(const QString& key) {
    const auto it = m_dict.constFind(key);
    if (it == m_dict.constEnd())
        return nullptr;
    if (it->typeId() != QMetaType::QVariantMap) {
        failWith(QStringLiteral("\"%1\" holds %2, not an object").arg(key, typeNameOf(*it)));
        return nullptr;
    }
    QString why;
    auto object = decodeFromDictionary(it->toMap(), &why);
    if (!object)
        failWith(QStringLiteral("\"%1\": %2").arg(key, why));
    return object;
}

// An entry that cannot be decoded is left out and the fault recorded, so a caller may keep the
// rest.
std::vector<std::unique_ptr<Archivable>> KeyedUnarchiver::decodeObjectArray(const QString& key) {
    std::vector<std::unique_ptr<Archivable>> objects;
    const auto it = m_dict.constFind(key);
    if (it == m_dict.constEnd())
        return objects;
    if (it->typeId() != QMetaType::QVariantList) {
        failWith(QStringLiteral("\"%1\" holds %2, not an array").arg(key, typeNameOf(*it)));
        return objects;
    }
    const QVariantList list = it->toList();
    for (qsizetype i = 0; i < list.size(); ++i) {
        const QVariant& entry = list.at(i);
        QString why = QStringLiteral("holds %1, not an object").arg(typeNameOf(entry));
        auto object = entry.typeId() == QMetaType::QVariantMap
                          ? decodeFromDictionary(entry.toMap(), &why)
                          : nullptr;
        if (!object) {
            failWith(QStringLiteral("\"%1\"[%2]: %3").arg(key).arg(i).arg(why));
            continue;
        }
        objects.push_back(std::move(object));
    }
    return objects;
}

std::unique_ptr<Archivable> KeyedUnarchiver::decodeFromDictionary(const QVariantMap& dictionary,
                                                                  QString* error) {
    const auto fail = [error](const QString& why) -> std::unique_ptr<Archivable> {
        if (error)
            *error = why;
        return nullptr;
    };
    const QVariant classValue = dictionary.value(classKey);
    if (classValue.typeId() != QMetaType::QString)
        return fail(QStringLiteral("the object has no class name"));
    const QString className = classValue.toString();
    const Factory factory = ClassRegistry::shared().find(className);
    if (!factory)
        return fail(QStringLiteral("unknown class \"%1\"").arg(className));

    KeyedUnarchiver coder(dictionary);
    auto object = factory(coder);
    if (coder.hasError())
        return fail(QStringLiteral("%1: %2").arg(className, coder.error()));
    if (!object)
        return fail(QStringLiteral("%1: the object could not be built").arg(className));
    return object;
}

std::unique_ptr<Archivable> KeyedUnarchiver::unarchive(const QByteArray& data, QString* error) {
    const PlistReadResult read = PropertyList::parse(data);
    if (!read.ok()) {
        if (error)
            *error = QStringLiteral("not a keyed archive: %1").arg(read.error);
        return nullptr;
    }
    if (read.value.typeId() != QMetaType::QVariantMap) {
        if (error)
            *error = QStringLiteral("not a keyed archive: the root is not a dictionary");
        return nullptr;
    }
    return decodeFromDictionary(read.value.toMap(), error);
}

} // namespace koru::platform
