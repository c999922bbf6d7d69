#pragma once

#include <QByteArray>
#include <QString>
#include <QVariant>

#include <mutex>

namespace koru::platform {

// The user defaults: one XML property list in $XDG_CONFIG_HOME/KORU/defaults.plist. Registered
// defaults answer for keys the user never set. Reads and writes are safe from any thread; every
// write replaces the file atomically. An unreadable file is kept aside as "<name>.unreadable".
class UserDefaults {
public:
    static UserDefaults& standardUserDefaults();

    // A store on an explicit file (tests); standardUserDefaults() uses the XDG path.
    explicit UserDefaults(QString path);

    void registerDefaults(const QVariantMap& defaults);

    QVariant objectForKey(const QString& key) const; // invalid QVariant when absent
    bool boolForKey(const QString& key) const;
    qint64 integerForKey(const QString& key) const;
    double doubleForKey(const QString& key) const;
    float floatForKey(const QString& key) const;
    QString stringForKey(const QString& key) const;
    QByteArray dataForKey(const QString& key) const;
    QVariantMap dictionaryForKey(const QString& key) const;
    QVariantList arrayForKey(const QString& key) const;

    void setObject(const QString& key, const QVariant& value);
    void setBool(const QString& key, bool value) { setObject(key, value); }
    void setInteger(const QString& key, qint64 value) { setObject(key, value); }
    void setDouble(const QString& key, double value) { setObject(key, value); }
    void setString(const QString& key, const QString& value) { setObject(key, value); }
    void removeObjectForKey(const QString& key);

    // Re-reads the file (tests simulate a restart with it).
    void reload();
    QString path() const { return m_path; }
    QString lastError() const;

private:
    void loadLocked();
    void keepAsideLocked(const QString& why);
    void persistLocked();
    QVariant lookupLocked(const QString& key) const;

    QString m_path;
    mutable std::mutex m_mutex; // guards everything below; taken before the log's own lock
    QVariantMap m_values;
    QVariantMap m_registered;
    QString m_lastError;
    // Set when an unreadable file could not be moved aside: writes then stay in memory rather
    // than replace it.
    bool m_persistBlocked = false;
};

} // namespace koru::platform
