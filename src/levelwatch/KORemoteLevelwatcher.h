#pragma once

#include "levelwatch/KOLevelwatcherConnection.h"
#include "levelwatch/LevelwatchHttpServer.h"

#include <QString>
#include <QVariantMap>

#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

namespace koru::link {
class LinkConnection;
}

// Asks KORU over the link; each request waits for the reply or the link's timeout.
class KOLinkDataFetcher : public KOLevelwatcherDataFetcher {
public:
    explicit KOLinkDataFetcher(koru::link::LinkConnection& link) : m_link(link) {}
    KOLevelwatcherDataReply meterDocument(const QString& name) override;
    KOLevelwatcherDataReply meterList() override;
    KOLevelwatcherDataReply logDocument(const QVariantMap& attributes) override;

private:
    KOLevelwatcherDataReply ask(const char* op, const QVariantMap& args);
    koru::link::LinkConnection& m_link;
};

// The service's server object: answers KORU's start and stop calls (on the link's executor) and
// owns the HTTP server between a start and the next start or stop.
class KORemoteLevelwatcher {
public:
    // Publishes the running server on the network; the result withdraws it when destroyed.
    using Publisher = std::function<std::shared_ptr<void>(std::uint16_t port)>;

    KORemoteLevelwatcher(KOLevelwatcherDataFetcher& fetcher, Publisher publisher = {},
                         LevelwatchHttpServer::Limits limits = {});
    ~KORemoteLevelwatcher();

    // "KORU SPL Server (<host>)", the host's name cut (at a character) so the whole stays within
    // the 63 bytes of a DNS-SD name and keeps its closing parenthesis.
    static std::string serviceName(const std::string& host);

    // The link's call handler: start, stop; anything else is an unknown operation.
    std::optional<QVariantMap> handleCall(const QString& op, const QVariantMap& args);

    // {ok, port, error?}: see the protocol.
    QVariantMap startRemoteServer(qint64 port, const QString& docRoot);
    void stopRemoteServer();
    std::uint16_t port() const;

private:
    KOLevelwatcherDataFetcher& m_fetcher;
    Publisher m_publisher;
    LevelwatchHttpServer::Limits m_limits;
    mutable std::mutex m_mutex; // guards the two below; calls arrive on one thread anyway
    std::unique_ptr<LevelwatchHttpServer> m_server;
    std::shared_ptr<void> m_publication;
};
