#include "platform/files/AtomicFileWriter.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <fcntl.h>
#include <unistd.h>

namespace koru::platform {

namespace {

// The rename is only durable once the folder's entry is on disk too.
void syncFolder(const QString& folder) {
    const int fd = ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY);
    if (fd < 0)
        return;
    ::fsync(fd);
    ::close(fd);
}

} // namespace

AtomicFileWriter::AtomicFileWriter(const QString& path) : m_path(path), m_file(path) {
    // Never write the target in place, not even where no temporary file can be made.
    m_file.setDirectWriteFallback(false);
}

AtomicFileWriter::~AtomicFileWriter() {
    discard();
}

bool AtomicFileWriter::open(QString* error) {
    // Unbuffered: QSaveFile's commit does not notice a buffered flush that fails (a full disk)
    // and would rename a truncated file over the target. Callers write in large pieces anyway.
    if (!m_file.open(QIODevice::WriteOnly | QIODevice::Unbuffered))
        return fail(error, m_file.errorString());
    m_open = true;
    return true;
}

bool AtomicFileWriter::write(const QByteArray& bytes, QString* error) {
    if (!m_open)
        return fail(error, QStringLiteral("the file is not open"));
    if (m_file.write(bytes) != bytes.size()) {
        // A short write without an error is the disk taking only part of the data.
        const QString why = m_file.error() == QFileDevice::NoError
                                ? QStringLiteral("the disk took only part of the data (full?)")
                                : m_file.errorString();
        discard();
        return fail(error, why);
    }
    return true;
}

bool AtomicFileWriter::commit(QString* error) {
    if (!m_open)
        return fail(error, QStringLiteral("the file is not open"));
    if (!m_file.flush() || m_file.error() != QFileDevice::NoError) {
        const QString why = m_file.errorString();
        discard();
        return fail(error, why);
    }
    m_open = false;
    // QSaveFile syncs the temporary file and renames it; on failure it removes it.
    if (!m_file.commit())
        return fail(error, m_file.errorString());
    syncFolder(QFileInfo(m_path).absolutePath());
    return true;
}

void AtomicFileWriter::discard() {
    if (!m_open)
        return;
    m_open = false;
    m_file.cancelWriting();
    m_file.commit(); // with the write cancelled, this only removes the temporary file
}

bool AtomicFileWriter::fail(QString* error, const QString& why) {
    if (error)
        *error = QStringLiteral("%1: cannot write: %2").arg(m_path, why);
    return false;
}

bool writeFileAtomically(const QString& path, const QByteArray& bytes, QString* error) {
    const QString folder = QFileInfo(path).absolutePath();
    if (!QDir().mkpath(folder)) {
        if (error)
            *error = QStringLiteral("%1: cannot write: cannot create folder %2").arg(path, folder);
        return false;
    }
    AtomicFileWriter writer(path);
    return writer.open(error) && writer.write(bytes, error) && writer.commit(error);
}

} // namespace koru::platform
