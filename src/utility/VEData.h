#pragma once

#include <QByteArray>
#include <QString>

#include <optional>

// Digests of data and files.
class VEData {
public:
    static QByteArray sha1(const QByteArray& data);    // 20 bytes
    static QString sha1String(const QByteArray& data); // 40 lower-case hex digits
    // The digest of a file's contents, read in 32 KiB chunks; nullopt when it cannot be read.
    static std::optional<QString> digestStringOfFileAtURL(const QString& path);
};
