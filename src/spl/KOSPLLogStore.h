#pragma once

#include <QObject>
#include <QString>

#include <memory>
#include <mutex>
#include <vector>

class KOSPLLog;

// Every finished SPL log of the user, kept in "spllogs.plist" ({"SplLogs": [entry, ...]} in list
// order). Headless, so a meter can hand over its log whether or not the logging window was ever
// shown.
//
// Loading: a missing file is an empty list; an unreadable one is renamed aside with
// ".unreadable" (and a log line) so that the next save cannot destroy it. An entry with a bad
// speed or weighting code is skipped with a log line; an entry whose records end in a part
// record keeps every whole record before it, with a log line.
//
// Every change (adding or removing logs) rewrites the whole store through a temporary file and a
// rename, so a deleted log stays deleted after a restart. A failed write is logged and answered.
//
// Threads: any. mLock guards the list and every write of the file; taken before a log's own
// lock (a log's lock is the leaf).
class KOSPLLogStore : public QObject {
    Q_OBJECT
public:
    using Log = std::shared_ptr<KOSPLLog>;

    static constexpr const char* kFileName = "spllogs.plist";
    static constexpr const char* kLogsKey = "SplLogs";

    // The program's store in the application-support folder, made on first use (main thread).
    static KOSPLLogStore& sharedStore();

    explicit KOSPLLogStore(const QString& folder);
    ~KOSPLLogStore() override;

    QString path() const;

    std::vector<Log> logs() const;
    qsizetype countOfLogs() const;

    // Each of these saves the store; false (logged) when the write failed. A null log is
    // ignored; indices out of range are ignored.
    bool addLog(Log log);
    bool removeLogsAtIndexes(std::vector<qsizetype> indexes);
    bool removeLog(const Log& log);

    bool save();

signals:
    // Emitted on the thread that changed the list.
    void logsChanged();

private:
    void load();

    QString mFolder;
    mutable std::recursive_mutex mLock; // before any KOSPLLog lock
    std::vector<Log> mLogs;
};
