#include "levelwatch/KORemoteLevelwatcher.h"
#include "platform/dnssd/ServiceDiscovery.h"
#include "platform/link/LevelwatcherProtocol.h"
#include "platform/link/LinkConnection.h"
#include "platform/log/Log.h"

#include <QCoreApplication>

#include <clocale>
#include <condition_variable>
#include <cstdlib>
#include <mutex>

#include <unistd.h>

// The SPL network service. KORU starts it with one end of a socket pair; it serves HTTP for as
// long as that link is open and exits as soon as it closes (KORU quit, crashed or was killed),
// so no orphan keeps the port.
int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName("levelwatch");
    std::setlocale(LC_NUMERIC, "C");
    koru::log::init("levelwatch");

    const std::optional<int> fd = koru::link::inheritedLinkFd();
    if (!fd) {
        koru::log::error("levelwatch is started by KORU only (no link in {})",
                         koru::link::kLinkFdVariable);
        return 2;
    }

    std::mutex mutex;
    std::condition_variable ended;
    bool closed = false;
    std::unique_ptr<KORemoteLevelwatcher> server;
    koru::link::LinkConnection link(
        *fd,
        [&server](const QString& op, const QVariantMap& args) {
            return server->handleCall(op, args);
        },
        [&] {
            std::lock_guard lock(mutex);
            closed = true;
            ended.notify_all();
        });
    KOLinkDataFetcher fetcher(link);
    // Announced as the web server it is; without an Avahi daemon this does nothing (logged once)
    // and the server serves all the same.
    const auto publish = [](std::uint16_t port) -> std::shared_ptr<void> {
        char host[256] = {};
        ::gethostname(host, sizeof host - 1);
        return koru::dnssd::publish(KORemoteLevelwatcher::serviceName(host), "_http._tcp", port);
    };
    server = std::make_unique<KORemoteLevelwatcher>(fetcher, publish);
    link.start();
    koru::log::info("levelwatch started");

    std::unique_lock lock(mutex);
    ended.wait(lock, [&] { return closed; });
    lock.unlock();
    koru::log::info("levelwatch: KORU closed the link; quitting");
    koru::log::logger().flush();
    // HTTP workers may sit in a client's read timeout: end the process now, which closes the port
    // with it, rather than wait for them.
    std::_Exit(0);
}
