#include "platform/defaults/UserDefaults.h"

#include "platform/files/KeepAside.h"
#include "platform/log/Log.h"
#include "platform/paths/Paths.h"
#include "platform/plist/PropertyList.h"
#include "platform/plist/VariantTypes.h"

#include <QFile>
#include <QFileInfo>
#include <QLocale>

#include <charconv>
#include <cmath>
#include <limits>
#include <optional>

namespace koru::platform {

namespace {

bool isRealType(int typeId) {
    return typeId == QMetaType::Double || typeId == QMetaType::Float;
}

// Stored strings such as "42" or "0.5" read as numbers whatever the locale.
std::optional<double> parseNumber(const QString& text) {
    const QByteArray bytes = text.trimmed().toUtf8();
    const char* first = bytes.constData();
    const char* last = first + bytes.size();
    double value = 0.0;
    const auto [end, ec] = std::from_chars(first, last, value);
    if (ec != std::errc() || end != last || bytes.isEmpty())
        return std::nullopt;
    return value;
}

std::optional<qint64> parseInteger(const QString& text) {
    const QByteArray bytes = text.trimmed().toUtf8();
    const char* first = bytes.constData();
    const char* last = first + bytes.size();
    qint64 value = 0;
    const auto [end, ec] = std::from_chars(first, last, value);
    if (ec != std::errc() || end != last || bytes.isEmpty())
        return std::nullopt;
    return value;
}

qint64 clampToInteger(double value) {
    if (std::isnan(value))
        return 0;
    // 2^63 as a double; anything at or above it does not fit.
    constexpr double limit = 9223372036854775808.0;
    if (value >= limit)
        return std::numeric_limits<qint64>::max();
    if (value < -limit)
        return std::numeric_limits<qint64>::min();
    return static_cast<qint64>(value);
}

qint64 integerFrom(const QVariant& value) {
    const int type = value.typeId();
    if (type == QMetaType::ULongLong || type == QMetaType::ULong) {
        const quint64 unsignedValue = value.toULongLong();
        constexpr auto max = static_cast<quint64>(std::numeric_limits<qint64>::max());
        return unsignedValue > max ? std::numeric_limits<qint64>::max()
                                   : static_cast<qint64>(unsignedValue);
    }
    if (isIntegerType(type))
        return value.toLongLong();
    if (isRealType(type))
        return clampToInteger(value.toDouble());
    if (type == QMetaType::Bool)
        return value.toBool() ? 1 : 0;
    if (type == QMetaType::QString) {
        if (const auto integer = parseInteger(value.toString()))
            return *integer;
        if (const auto real = parseNumber(value.toString()))
            return clampToInteger(*real);
    }
    return 0;
}

double doubleFrom(const QVariant& value) {
    const int type = value.typeId();
    if (isIntegerType(type) || isRealType(type))
        return value.toDouble();
    if (type == QMetaType::Bool)
        return value.toBool() ? 1.0 : 0.0;
    if (type == QMetaType::QString)
        return parseNumber(value.toString()).value_or(0.0);
    return 0.0;
}

bool boolFrom(const QVariant& value) {
    const int type = value.typeId();
    if (type == QMetaType::Bool)
        return value.toBool();
    if (isIntegerType(type))
        return value.toLongLong() != 0 || value.toULongLong() != 0;
    if (isRealType(type))
        return value.toDouble() != 0.0;
    if (type == QMetaType::QString) {
        const QString text = value.toString().trimmed().toLower();
        if (text == QLatin1String("yes") || text == QLatin1String("true"))
            return true;
        return parseNumber(text).value_or(0.0) != 0.0;
    }
    return false;
}

QString stringFrom(const QVariant& value) {
    const int type = value.typeId();
    if (type == QMetaType::QString)
        return value.toString();
    if (isUnsignedIntegerType(type))
        return QString::number(value.toULongLong());
    if (isIntegerType(type))
        return QString::number(value.toLongLong());
    if (type == QMetaType::Bool)
        return value.toBool() ? QStringLiteral("1") : QStringLiteral("0");
    // The shortest text that reads back as the same double, without locale.
    if (isRealType(type))
        return QString::number(value.toDouble(), 'g', QLocale::FloatingPointShortest);
    return {};
}

} // namespace

UserDefaults& UserDefaults::standardUserDefaults() {
    static auto* const shared =
        new UserDefaults(configDirectory() + QStringLiteral("/defaults.plist"));
    return *shared;
}

UserDefaults::UserDefaults(QString path) : m_path(std::move(path)) {
    const std::lock_guard lock(m_mutex);
    loadLocked();
}

void UserDefaults::registerDefaults(const QVariantMap& defaults) {
    const std::lock_guard lock(m_mutex);
    for (auto it = defaults.constBegin(); it != defaults.constEnd(); ++it)
        m_registered.insert(it.key(), it.value());
}

QVariant UserDefaults::lookupLocked(const QString& key) const {
    const auto stored = m_values.constFind(key);
    if (stored != m_values.constEnd())
        return *stored;
    return m_registered.value(key);
}

QVariant UserDefaults::objectForKey(const QString& key) const {
    const std::lock_guard lock(m_mutex);
    return lookupLocked(key);
}

bool UserDefaults::boolForKey(const QString& key) const {
    return boolFrom(objectForKey(key));
}

qint64 UserDefaults::integerForKey(const QString& key) const {
    return integerFrom(objectForKey(key));
}

double UserDefaults::doubleForKey(const QString& key) const {
    return doubleFrom(objectForKey(key));
}

float UserDefaults::floatForKey(const QString& key) const {
    return static_cast<float>(doubleForKey(key));
}

QString UserDefaults::stringForKey(const QString& key) const {
    return stringFrom(objectForKey(key));
}

QByteArray UserDefaults::dataForKey(const QString& key) const {
    const QVariant value = objectForKey(key);
    return value.typeId() == QMetaType::QByteArray ? value.toByteArray() : QByteArray();
}

QVariantMap UserDefaults::dictionaryForKey(const QString& key) const {
    const QVariant value = objectForKey(key);
    return value.typeId() == QMetaType::QVariantMap ? value.toMap() : QVariantMap();
}

QVariantList UserDefaults::arrayForKey(const QString& key) const {
    const QVariant value = objectForKey(key);
    const int type = value.typeId();
    return type == QMetaType::QVariantList || type == QMetaType::QStringList ? value.toList()
                                                                             : QVariantList();
}

void UserDefaults::setObject(const QString& key, const QVariant& value) {
    if (!value.isValid()) {
        removeObjectForKey(key);
        return;
    }
    QString why;
    if (!PropertyList::validate(value, &why)) {
        const std::lock_guard lock(m_mutex);
        m_lastError = QStringLiteral("\"%1\" not stored: %2").arg(key, why);
        log::warn("User defaults: {}", m_lastError.toStdString());
        return;
    }
    const std::lock_guard lock(m_mutex);
    m_values.insert(key, value);
    persistLocked();
}

void UserDefaults::removeObjectForKey(const QString& key) {
    const std::lock_guard lock(m_mutex);
    if (m_values.remove(key) > 0)
        persistLocked();
}

void UserDefaults::reload() {
    const std::lock_guard lock(m_mutex);
    loadLocked();
}

QString UserDefaults::lastError() const {
    const std::lock_guard lock(m_mutex);
    return m_lastError;
}

void UserDefaults::loadLocked() {
    m_values.clear();
    m_lastError.clear();
    m_persistBlocked = false;
    if (!QFileInfo::exists(m_path))
        return;
    const PlistReadResult read = PropertyList::read(m_path);
    if (!read.ok()) {
        keepAsideLocked(read.error);
        return;
    }
    if (read.value.typeId() != QMetaType::QVariantMap) {
        keepAsideLocked(QStringLiteral("%1: the root is not a dictionary").arg(m_path));
        return;
    }
    m_values = read.value.toMap();
}

// The unreadable file may hold settings the user wants back, so it is moved aside (never
// replaced) before the next write creates a fresh file.
void UserDefaults::keepAsideLocked(const QString& why) {
    const QString aside = keepUnreadableAside(m_path);
    if (aside.isEmpty()) {
        m_persistBlocked = true;
        m_lastError =
            QStringLiteral("%1; it could not be moved aside, so changes are not saved").arg(why);
        log::error("User defaults unreadable: {}", m_lastError.toStdString());
        return;
    }
    m_lastError = QStringLiteral("%1; kept as %2").arg(why, aside);
    log::warn("User defaults unreadable: {}", m_lastError.toStdString());
}

void UserDefaults::persistLocked() {
    if (m_persistBlocked)
        return;
    QString why;
    if (PropertyList::write(m_path, m_values, PlistFormat::Xml, &why))
        return;
    m_lastError = why;
    log::warn("User defaults not saved: {}", why.toStdString());
}

} // namespace koru::platform
