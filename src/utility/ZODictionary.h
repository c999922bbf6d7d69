#pragma once

#include "utility/VETextAttributes.h"

#include <QDateTime>
#include <QString>
#include <QVariantMap>

#include <cstdint>
#include <optional>

// Typed reads of stored dictionaries. A missing entry, or one that cannot give the reading (a
// date, data, an array or a dictionary), yields the caller's default, so a damaged file never
// stops a restore. Numbers and booleans give every reading; texts give their leading number.
class ZODictionary {
public:
    static float floatValueForKey(const QVariantMap& dict, const QString& key, float defaultValue);
    // A real is truncated toward zero, saturating at the 32-bit limits; so is a long text number.
    static std::int32_t intForKey(const QVariantMap& dict, const QString& key,
                                  std::int32_t defaultValue);
    // Numbers wrap modulo 2^32 (-1 reads as 4294967295). A text is not an unsigned number and
    // yields the default.
    static std::uint32_t unsignedIntForKey(const QVariantMap& dict, const QString& key,
                                           std::uint32_t defaultValue);
    // A number is true when not 0. A text is true when, after blanks, a sign and leading zeros,
    // it starts with Y, y, T, t or a digit 1-9.
    static bool boolForKey(const QVariantMap& dict, const QString& key, bool defaultValue);

    static float floatForKey(const QVariantMap& dict, const QString& key) {
        return floatValueForKey(dict, key, 0.0f);
    }
    static std::int32_t intForKey(const QVariantMap& dict, const QString& key) {
        return intForKey(dict, key, 0);
    }
    static bool boolForKey(const QVariantMap& dict, const QString& key) {
        return boolForKey(dict, key, false);
    }
    // A stored date, or a text "YYYY-MM-DD HH:MM:SS +HHMM"; nullopt otherwise.
    static std::optional<QDateTime> dateForKey(const QVariantMap& dict, const QString& key);
    static std::optional<QDateTime> dateFromString(const QString& text);

    // Numbers and booleans, as the property lists store them.
    static bool isNumber(const QVariant& value);

    // The system font at `size` logical pixels (one point of the plots is one pixel) and the
    // colour.
    static VETextAttributes fontAttributesDictionaryForSize(double size, const QColor& color);
    static VETextAttributes fontAttributesDictionaryForSize(double size);
};
