#pragma once

#include <QByteArray>
#include <QString>
#include <QVariant>

#include <functional>
#include <memory>
#include <vector>

namespace koru::platform {

class KeyedArchiver;
class KeyedUnarchiver;

// An object that can be stored in a keyed archive. The class name is written with the object and
// chooses the factory when it is read back.
class Archivable {
public:
    virtual ~Archivable() = default;
    virtual QString archiveClassName() const = 0;
    virtual void encodeWithCoder(KeyedArchiver& coder) const = 0;
};

// Encodes objects as nested dictionaries ("$class" plus the object's keys), stored as a binary
// property list.
class KeyedArchiver {
public:
    void encodeBool(const QString& key, bool value);
    void encodeInt(const QString& key, qint64 value);
    void encodeDouble(const QString& key, double value);
    void encodeString(const QString& key, const QString& value);
    void encodeData(const QString& key, const QByteArray& value);
    // Any property-list value (dictionary, array, string, number, bool, data, date).
    void encodeValue(const QString& key, const QVariant& value);
    // A nested object; a null pointer stores nothing under the key.
    void encodeObject(const QString& key, const Archivable* object);
    void encodeObjectArray(const QString& key, const std::vector<const Archivable*>& objects);

    // The dictionary built so far (the current object's keys).
    const QVariantMap& dictionary() const { return m_dict; }

    // The archive of one root object, as binary property-list bytes; empty (and *error set) when
    // a value cannot be stored.
    static QByteArray archivedData(const Archivable& root, QString* error = nullptr);
    static QVariantMap encodeToDictionary(const Archivable& object);

private:
    QVariantMap m_dict;
};

// Reads an archive back. Missing keys give the caller's default; a wrong type gives the default
// and records an error. An unknown class or a malformed archive is an error the caller can test.
class KeyedUnarchiver {
public:
    using Factory = std::function<std::unique_ptr<Archivable>(KeyedUnarchiver&)>;

    // Registers how to build objects of a class name (typically at start-up or in a static).
    static void registerClass(const QString& className, Factory factory);

    explicit KeyedUnarchiver(QVariantMap dictionary);

    bool containsKey(const QString& key) const;
    bool decodeBool(const QString& key, bool defaultValue = false);
    qint64 decodeInt(const QString& key, qint64 defaultValue = 0);
    double decodeDouble(const QString& key, double defaultValue = 0.0);
    QString decodeString(const QString& key, const QString& defaultValue = {});
    QByteArray decodeData(const QString& key, const QByteArray& defaultValue = {});
    QVariant decodeValue(const QString& key) const;
    std::unique_ptr<Archivable> decodeObject(const QString& key);
    std::vector<std::unique_ptr<Archivable>> decodeObjectArray(const QString& key);

    // Typed convenience: the decoded object if it is a T, else null (and an error is recorded).
    template <typename T> std::unique_ptr<T> decodeObjectOfClass(const QString& key) {
        auto object = decodeObject(key);
        if (!object)
            return nullptr;
        if (auto* typed = dynamic_cast<T*>(object.get())) {
            object.release();
            return std::unique_ptr<T>(typed);
        }
        failWith(QStringLiteral("object under \"%1\" has an unexpected class").arg(key));
        return nullptr;
    }

    bool hasError() const { return !m_error.isEmpty(); }
    const QString& error() const { return m_error; }
    void failWith(const QString& message);

    // Reads a root object from archive bytes; null and *error set on any failure.
    static std::unique_ptr<Archivable> unarchive(const QByteArray& data, QString* error = nullptr);
    static std::unique_ptr<Archivable> decodeFromDictionary(const QVariantMap& dictionary,
                                                            QString* error = nullptr);

private:
    QVariantMap m_dict;
    QString m_error;
};

} // namespace koru::platform
