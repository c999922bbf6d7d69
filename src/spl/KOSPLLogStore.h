#pragma once

#include <QObject>
#include <QString>
#include <QVariantList>

#include <atomic>
#include <memory>
#include <mutex>
#include <vector>

class KOSPLLog;
namespace koru::platform {
class SerialQueue;
}

// Every finished SPL log of the user, kept in "spllogs.plist" ({"SplLogs": [entry, ...]} in list
// order). Headless, so a meter can hand over its log whether or not the logging window was ever
// shown.
//
// Loading: a missing file is an empty list; an unreadable one is renamed aside with
// ".unreadable" (and a log line) so that the next save cannot destroy it. An entry with a bad
// speed or weighting code is skipped with a log line; an entry whose records end in a part
// record keeps every whole record before it, with a log line.
//
// Loading a day-long log takes tens of milliseconds, so the program's store loads on its own
// writer thread (Loading::InBackground): the list starts empty and logsChanged() announces the
// stored logs, which go before any log added meanwhile. Until then the stored file is never
// rewritten from the partial list.
//
// Every change (adding or removing logs) rewrites the whole store through a temporary file and a
// rename, so a deleted log stays deleted after a restart. The rewrite (encoding the records and
// the file) happens on the store's writer thread, in order, from the list as it is when the
// rewrite runs (a rewrite that a later one will supersede is skipped), so the interface never
// waits for it. A failed write is logged and answered by waitUntilSaved(). The shared store
// finishes its writes when the application quits.
//
// Threads: any. mLock guards the list; taken before a log's own lock (a log's lock is the leaf).
// Files are written only on the writer queue.
class KOSPLLogStore : public QObject {
    Q_OBJECT
public:
    using Log = std::shared_ptr<KOSPLLog>;

    static constexpr const char* kFileName = "spllogs.plist";
    static constexpr const char* kLogsKey = "SplLogs";

    enum class Loading { Now, InBackground };

    // The program's store in the application-support folder, made on first use (main thread);
    // it loads in the background.
    static KOSPLLogStore& sharedStore();

    explicit KOSPLLogStore(const QString& folder, Loading loading = Loading::Now);
    ~KOSPLLogStore() override;

    QString path() const;

    std::vector<Log> logs() const;
    qsizetype countOfLogs() const;

    // Each of these queues a rewrite of the store. A null log is ignored; indices out of range
    // are ignored.
    void addLog(Log log);
    void removeLogsAtIndexes(std::vector<qsizetype> indexes);
    void removeLog(const Log& log);
    // By identity: indices may have moved under a list that was still loading.
    void removeLogs(const std::vector<Log>& logs);

    bool isLoaded() const { return mLoaded.load(); }
    // Waits until the stored logs are in the list (at once for Loading::Now).
    void waitUntilLoaded();

    // Queues a rewrite of the whole store.
    void save();
    // Waits until every queued rewrite is on disk; false when any of them failed since the last
    // call (each failure is logged).
    bool waitUntilSaved();

signals:
    // Emitted on the thread that changed the list.
    void logsChanged();

private:
    // The stored logs; files are touched only here and in write().
    std::vector<Log> readStoredLogs() const;
    void takeStoredLogs(std::vector<Log> stored);
    bool write(const QVariantList& entries) const;

    QString mFolder;
    mutable std::recursive_mutex mLock; // before any KOSPLLog lock
    std::vector<Log> mLogs;
    std::atomic<bool> mLoaded{false};
    std::atomic<int> mPendingSaves{0};
    std::atomic<bool> mWritesFailed{false};
    std::unique_ptr<koru::platform::SerialQueue> mWriter; // last: its thread uses the rest
};
