#pragma once

#include "platform/files/AtomicFileWriter.h"

#include <QByteArray>
#include <QString>
#include <QVariant>

namespace koru::platform {

// Property lists as QVariant trees: QVariantMap (dictionary), QVariantList (array), QString,
// integers (qint64/int/uint...), double/float, bool, QByteArray (data) and QDateTime (date).
// Any other QVariant type is refused when writing. Integers read back as qint64, or as quint64
// above the signed range; reals as double. Dates keep milliseconds in binary form and whole
// seconds in XML form, and must lie within about 68 years of 2001-01-01 (the library's range).
enum class PlistFormat { Xml, Binary };

// A read that either holds a value or says why it could not.
struct PlistReadResult {
    QVariant value;
    QString error; // empty on success
    bool ok() const { return error.isEmpty(); }
};

class PropertyList {
public:
    // Parses XML or binary property-list bytes (the format is detected).
    static PlistReadResult parse(const QByteArray& bytes);
    // Reads a file; a missing, empty, truncated or malformed file gives an error.
    static PlistReadResult read(const QString& path);

    // Serialises the tree; returns an empty array and sets *error when a value cannot be stored.
    static QByteArray serialize(const QVariant& value, PlistFormat format,
                                QString* error = nullptr);
    // True when every value in the tree can be stored; otherwise *error names the first that
    // cannot, with its place in the tree.
    static bool validate(const QVariant& value, QString* error = nullptr);
    // Writes to a temporary file beside the target, then renames it over the target, so the old
    // file stays whole when anything fails. Creates missing parent folders.
    static bool write(const QString& path, const QVariant& value, PlistFormat format,
                      QString* error = nullptr);
};

} // namespace koru::platform
