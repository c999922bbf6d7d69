#pragma once

#include <QByteArray>
#include <QSaveFile>
#include <QString>

namespace koru::platform {

// Writes a file so that readers only ever see the old content or the whole new one: the bytes go
// to a temporary file in the target's folder, which is synced and renamed over the target on
// commit. A write that fails or is never committed leaves the target as it was and no temporary
// file behind. Streams, so a large file never has to sit in memory whole. One thread at a time.
class AtomicFileWriter {
public:
    explicit AtomicFileWriter(const QString& path);
    ~AtomicFileWriter(); // discards an uncommitted write

    AtomicFileWriter(const AtomicFileWriter&) = delete;
    AtomicFileWriter& operator=(const AtomicFileWriter&) = delete;

    // Creates the temporary file; the target's folder must exist.
    bool open(QString* error = nullptr);
    // Fails once anything written before has failed.
    bool write(const QByteArray& bytes, QString* error = nullptr);
    // Flushes, syncs and renames over the target; false (and the target untouched) when any
    // write failed or the disk refused the last bytes.
    bool commit(QString* error = nullptr);
    void discard();

    const QString& path() const { return m_path; }

private:
    bool fail(QString* error, const QString& why);

    QString m_path;
    QSaveFile m_file;
    bool m_open = false;
};

// The whole file in one go; creates missing parent folders.
bool writeFileAtomically(const QString& path, const QByteArray& bytes, QString* error = nullptr);

} // namespace koru::platform
