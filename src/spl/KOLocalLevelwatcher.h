#pragma once

#include "platform/link/LinkConnection.h"
#include "spl/KOLevelwatcherLocalDataSource.h"

#include <QObject>
#include <QString>
#include <QStringList>

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>

#include <sys/types.h>

namespace koru::platform {
class SerialQueue;
class UserDefaults;
} // namespace koru::platform

// KORU's side of the SPL service: starts `levelwatch` with a link to it (again after the link
// broke), prepares the web folder, asks the service to start and stop its HTTP server, keeps the
// server's status, port and address for the interface, and answers the service's data requests
// from the data source. The properties change on the main thread only.
//
// The web folder travels as its canonical absolute path (UTF-8): on Linux a folder "bookmark" is
// just the path.
class KOLocalLevelwatcher : public QObject {
    Q_OBJECT
    Q_PROPERTY(int status READ status NOTIFY statusChanged)
    Q_PROPERTY(bool isRunning READ isRunning NOTIFY isRunningChanged)
    Q_PROPERTY(QString addressString READ addressString NOTIFY addressStringChanged)
public:
    static constexpr const char* kPortDefault = "levelwatch.port";
    static constexpr const char* kWebFolderName = "levelwatch";
    static constexpr const char* kResourceFolder = ":/levelwatch";

    enum Status : int { Starting = -1, Stopped = 0, Running = 1 };

    struct Services {
        koru::platform::UserDefaults* defaults = nullptr;
        koru::platform::SerialQueue* backgroundQueue = nullptr;
        // The service program; empty: $KORU_LEVELWATCH, else "levelwatch" beside this program.
        QString program;
        // The web folder; empty: "levelwatch" in the application-support folder.
        QString docRoot;
        // The host's IPv4 addresses in order; empty: the machine's (getifaddrs).
        std::function<QStringList()> hostAddresses;
        std::chrono::milliseconds callTimeout = koru::link::LinkConnection::kDefaultTimeout;
        koru::platform::TimerClock* clock = nullptr; // none: the steady clock
    };

    using Completion = std::function<void(bool ok, std::optional<koru::link::LinkError> error)>;

    // The program's one instance, made on first use, kept for the process's life.
    static KOLocalLevelwatcher& sharedServer();

    explicit KOLocalLevelwatcher(Services services);
    // Closes the link (the service quits) and reaps it. Waits for the background queue.
    ~KOLocalLevelwatcher() override;

    // Asks the service to start its server on port(); `completion` runs on the main thread.
    void start(Completion completion = {});
    // Asks the service to stop its server; no reply is awaited.
    void stop();

    int status() const { return mStatus; }
    bool isRunning() const { return mIsRunning; }
    bool isStarting() const { return mIsStarting; }
    QString addressString() const { return mAddressString; }
    qint64 port() const { return mPort; }
    void setPort(qint64 port) { mPort = port; }
    QString docRoot() const;
    void setDocRoot(const QString& path);

    // Not owned; must outlive the requests it answers (reset it to none before it goes).
    void setDataSource(KOLevelwatcherLocalDataSource* source);
    // The program's source, used by every instance that has none of its own; set before the
    // shared server exists, so setting it does not start anything.
    static void setSharedDataSource(KOLevelwatcherLocalDataSource* source);

    // The link's call handler for the service's data requests (public for tests).
    std::optional<QVariantMap> handleCall(const QString& op, const QVariantMap& args);

    // The user default's port: 0 or missing gives the built-in request.
    static qint64 storedPort(const koru::platform::UserDefaults& defaults);
    // "http://<address>:<port>" with the first address that is not a loopback one and has four
    // dotted parts; none when no address qualifies.
    static std::optional<QString> addressStringFor(const QStringList& addresses, qint64 port);
    static QStringList machineIPv4Addresses();
    // Creates the web folder when nothing is at `path`, seeded from the program's resources; an
    // existing folder is never touched. False when no folder is there afterwards.
    static bool prepareWebFolder(const QString& path);
    // The service program KORU starts.
    static QString serviceProgram();

signals:
    void statusChanged(int status);
    void isRunningChanged(bool running);
    void addressStringChanged(const QString& address);

private:
    void setStatus(int status);
    void setIsRunning(bool running);
    void setAddressString(const QString& address);
    // On the background queue: the live link, started (again) when there is none.
    std::shared_ptr<koru::link::LinkConnection> ensureLink(QString* error);
    void linkClosed();
    void finishStart(bool ok, qint64 port, std::optional<koru::link::LinkError> error,
                     const Completion& completion);
    void reap();

    Services m;
    int mStatus = Stopped;
    bool mIsRunning = false;
    bool mIsStarting = false;
    QString mAddressString;
    qint64 mPort = 0;

    mutable std::mutex mMutex; // guards the fields below
    QString mDocRoot;
    std::shared_ptr<koru::link::LinkConnection> mLink;
    pid_t mChild = -1;
    std::atomic<KOLevelwatcherLocalDataSource*> mDataSource{nullptr};
    std::shared_ptr<std::atomic<bool>> mAlive = std::make_shared<std::atomic<bool>>(true);
};
