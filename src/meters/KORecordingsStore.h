#pragma once

#include <QString>
#include <QVariantMap>

#include <vector>

// The list of recordings the recorder has written, kept in "recordings.plist" in the
// application-support folder as {"recordings": [{"path": ...}, ...]}.
//
// Entries keep every key they were read with. A listed file that is gone stays listed (shown as
// missing) until the user deletes it: a disk that is not mounted yet must not empty the list.
// The file is rewritten atomically, whole, after every change; a store that cannot be read is
// moved aside (never overwritten) and the list starts empty, with the reason in lastError().
// Main thread only.
class KORecordingsStore {
public:
    static constexpr const char* kFileName = "recordings.plist";
    static constexpr const char* kRecordingsKey = "recordings";
    static constexpr const char* kPathKey = "path";

    // "recordings.plist" in the application-support folder.
    static QString defaultPath();

    // Reads `path` at once; see lastError() for what went wrong.
    explicit KORecordingsStore(const QString& path = defaultPath());

    const QString& storePath() const { return mPath; }

    // All entries in list order, missing files included.
    int count() const { return int(mEntries.size()); }
    // The entry's dictionary; empty for an index outside the list.
    QVariantMap entry(int index) const;
    QString pathAt(int index) const;
    // Whether the entry's file is there now (asked of the file system on every call).
    bool fileExistsAt(int index) const;
    // The number of entries whose file exists now.
    int numberOfRecordings() const;
    // Index of the entry with exactly this path, or -1.
    int indexOfPath(const QString& path) const;

    // Lists `path` (made absolute) unless it is listed already; saves in either case. False when
    // the path is empty or the store could not be written (the entry stays listed in memory).
    bool addRecording(const QString& path);
    // Removes the entry at `index` and saves; false for an index outside the list or a failed
    // write (the entry is gone from memory all the same).
    bool removeAt(int index);

    // Writes the whole list atomically; false (and lastError()) when that fails.
    bool save();
    // Reads the store again, replacing the list.
    void reload();

    // Why the last read or write failed; empty after a success.
    const QString& lastError() const { return mLastError; }

private:
    void load();

    QString mPath;
    std::vector<QVariantMap> mEntries;
    QString mLastError;
};
