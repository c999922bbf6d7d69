#include "levelwatch/KORemoteLevelwatcher.h"

#include "platform/link/LevelwatcherProtocol.h"
#include "platform/link/LinkConnection.h"
#include "platform/log/Log.h"

#include <QFileInfo>

using namespace koru::link;

KOLevelwatcherDataReply KOLinkDataFetcher::ask(const char* op, const QVariantMap& args) {
    const CallResult result = m_link.callAndWait(QString::fromLatin1(op), args);
    KOLevelwatcherDataReply reply;
    if (!result.ok()) {
        reply.kind = KOLevelwatcherDataReply::Kind::Failed;
        reply.error = result.error->message;
        return reply;
    }
    const QVariant data = result.reply.value(QString::fromLatin1(kDataKey));
    if (data.typeId() == QMetaType::QByteArray && !data.toByteArray().isEmpty()) {
        reply.kind = KOLevelwatcherDataReply::Kind::Document;
        reply.document = data.toByteArray();
    }
    return reply;
}

KOLevelwatcherDataReply KOLinkDataFetcher::meterDocument(const QString& name) {
    return ask(kOpMeterDocument, {{QString::fromLatin1(kNameKey), name}});
}

KOLevelwatcherDataReply KOLinkDataFetcher::meterList() {
    return ask(kOpMeterList, {});
}

KOLevelwatcherDataReply KOLinkDataFetcher::logDocument(const QVariantMap& attributes) {
    return ask(kOpLogDocument, {{QString::fromLatin1(kAttributesKey), attributes}});
}

KORemoteLevelwatcher::KORemoteLevelwatcher(KOLevelwatcherDataFetcher& fetcher, Publisher publisher,
                                           LevelwatchHttpServer::Limits limits)
    : m_fetcher(fetcher), m_publisher(std::move(publisher)), m_limits(limits) {}

KORemoteLevelwatcher::~KORemoteLevelwatcher() {
    stopRemoteServer();
}

std::string KORemoteLevelwatcher::serviceName(const std::string& host) {
    constexpr std::size_t kMaxName = 63;
    const std::string prefix = "KORU SPL Server (";
    std::size_t room = kMaxName - prefix.size() - 1;
    std::string cut = host;
    if (cut.size() > room) {
        while (room > 0 && (static_cast<unsigned char>(cut[room]) & 0xC0) == 0x80)
            --room;
        cut.resize(room);
    }
    return prefix + cut + ")";
}

std::uint16_t KORemoteLevelwatcher::port() const {
    std::lock_guard lock(m_mutex);
    return m_server ? m_server->port() : 0;
}

std::optional<QVariantMap> KORemoteLevelwatcher::handleCall(const QString& op,
                                                            const QVariantMap& args) {
    if (op == QLatin1String(kOpStartRemoteServer)) {
        const QVariant port = args.value(QString::fromLatin1(kPortKey));
        const QVariant docRoot = args.value(QString::fromLatin1(kDocRootKey));
        if ((port.typeId() != QMetaType::LongLong && port.typeId() != QMetaType::Int) ||
            docRoot.typeId() != QMetaType::QByteArray)
            return LinkConnection::errorReply(kErrorBadArguments,
                                              QStringLiteral("start needs a port and a folder"));
        return startRemoteServer(port.toLongLong(), QString::fromUtf8(docRoot.toByteArray()));
    }
    if (op == QLatin1String(kOpStopRemoteServer)) {
        stopRemoteServer();
        return std::nullopt;
    }
    return LinkConnection::errorReply(kErrorUnknownOperation,
                                      QStringLiteral("unknown operation %1").arg(op));
}

QVariantMap KORemoteLevelwatcher::startRemoteServer(qint64 requested, const QString& docRoot) {
    stopRemoteServer();
    const std::uint16_t port = requestedPort(requested);
    const auto failure = [port](qint64 code, const QString& message) {
        return QVariantMap{{QString::fromLatin1(kOkKey), false},
                           {QString::fromLatin1(kPortKey), qint64(port)},
                           {QString::fromLatin1(kErrorKey),
                            LinkError{QString::fromLatin1(kErrorDomain), code, message}.toMap()}};
    };
    const QFileInfo folder(docRoot);
    if (docRoot.isEmpty() || !folder.isDir())
        return failure(kErrorNoFolder,
                       QStringLiteral("%1 does not exist or is not a directoy").arg(docRoot));

    koru::log::debug("Setting document root: {}", docRoot.toStdString());
    auto server = std::make_unique<LevelwatchHttpServer>(
        std::filesystem::path(docRoot.toStdString()), m_fetcher, m_limits);
    const std::uint16_t bound = server->start(port);
    if (bound == 0)
        return failure(kErrorListenFailed,
                       QStringLiteral("The server could not listen on port %1.").arg(port));
    std::shared_ptr<void> publication = m_publisher ? m_publisher(bound) : nullptr;
    {
        std::lock_guard lock(m_mutex);
        m_server = std::move(server);
        m_publication = std::move(publication);
    }
    koru::log::info("levelwatch serving {} on port {}", docRoot.toStdString(), bound);
    return {{QString::fromLatin1(kOkKey), true}, {QString::fromLatin1(kPortKey), qint64(bound)}};
}

void KORemoteLevelwatcher::stopRemoteServer() {
    std::unique_ptr<LevelwatchHttpServer> server;
    std::shared_ptr<void> publication;
    {
        std::lock_guard lock(m_mutex);
        server = std::move(m_server);
        publication = std::move(m_publication);
    }
    publication.reset(); // withdrawn before the port closes
    if (server)
        server->stop();
}
