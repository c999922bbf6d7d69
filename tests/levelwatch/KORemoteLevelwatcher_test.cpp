#include "HttpTestSupport.h"

#include "levelwatch/KORemoteLevelwatcher.h"
#include "platform/link/LevelwatcherProtocol.h"
#include "platform/link/LinkConnection.h"

#include <gtest/gtest.h>

#include <QFileInfo>

#include <csignal>

#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>

namespace {

using koru::link::CallResult;
using koru::link::LinkConnection;
using koru::link::LinkError;
using koru::test::FakeFetcher;
using koru::test::statusOf;
using koru::test::WebFolder;

QVariantMap startArgs(qint64 port, const QString& folder) {
    return {{"port", port}, {"docRoot", folder.toUtf8()}};
}

TEST(KORemoteLevelwatcher, StartChecksTheFolderAndReportsTheBoundPort) {
    WebFolder web;
    FakeFetcher fetcher;
    int published = 0;
    std::uint16_t publishedPort = 0;
    KORemoteLevelwatcher server(fetcher, [&](std::uint16_t port) {
        ++published;
        publishedPort = port;
        return std::make_shared<int>(0);
    });

    const QString file = web.root + "/index.html";
    const QString missing = web.base.path() + "/nothing";
    struct Case {
        QString folder;
        qint64 port;
    };
    for (const Case& c : {Case{missing, 8123}, Case{file, -5}, Case{QString(), 1802465909}}) {
        SCOPED_TRACE(c.folder.toStdString());
        const QVariantMap reply =
            server.handleCall("startRemoteServer", startArgs(c.port, c.folder))
                .value_or(QVariantMap{});
        EXPECT_FALSE(reply.value("ok").toBool());
        EXPECT_EQ(reply.value("port").toLongLong(), koru::link::requestedPort(c.port));
        const std::optional<LinkError> error = LinkError::fromVariant(reply.value("error"));
        ASSERT_TRUE(error);
        EXPECT_EQ(error->domain, "KOLevelwatcher");
        EXPECT_EQ(error->code, -21);
        EXPECT_EQ(error->message, c.folder + " does not exist or is not a directoy");
    }
    EXPECT_EQ(published, 0);

    // Port 0 asks for any free port: the reply names the one really bound, not 0.
    const QVariantMap started = *server.handleCall("startRemoteServer", startArgs(0, web.root));
    ASSERT_TRUE(started.value("ok").toBool())
        << started.value("error").toMap().value("message").toString().toStdString();
    const auto port = std::uint16_t(started.value("port").toLongLong());
    EXPECT_NE(port, 0);
    EXPECT_EQ(server.port(), port);
    EXPECT_EQ(published, 1);
    EXPECT_EQ(publishedPort, port);
    EXPECT_EQ(statusOf(koru::test::rawExchange(port, "GET /spl/Meter%201 HTTP/1.1\r\n\r\n")), 200);

    // A second start replaces the first server: the old port closes.
    const QVariantMap again = *server.handleCall("startRemoteServer", startArgs(0, web.root));
    ASSERT_TRUE(again.value("ok").toBool());
    const auto newPort = std::uint16_t(again.value("port").toLongLong());
    EXPECT_NE(newPort, port);
    EXPECT_TRUE(koru::test::portIsFree(port));
    EXPECT_EQ(published, 2);

    // A port already taken fails with the listen error, and no server remains.
    LevelwatchHttpServer other(web.root.toStdString(), fetcher);
    const std::uint16_t taken = other.start(0);
    const QVariantMap refused = *server.handleCall("startRemoteServer", startArgs(taken, web.root));
    EXPECT_FALSE(refused.value("ok").toBool());
    EXPECT_EQ(LinkError::fromVariant(refused.value("error"))->code, koru::link::kErrorListenFailed);
    EXPECT_EQ(server.port(), 0);

    // Stop drops the server; it sends no reply.
    server.handleCall("startRemoteServer", startArgs(0, web.root));
    const std::uint16_t last = server.port();
    EXPECT_EQ(server.handleCall("stopRemoteServer", {}), std::nullopt);
    EXPECT_EQ(server.port(), 0);
    EXPECT_TRUE(koru::test::portIsFree(last));
}

TEST(KORemoteLevelwatcher, MistypedArgumentsAndUnknownOperationsAreErrors) {
    FakeFetcher fetcher;
    KORemoteLevelwatcher server(fetcher);
    struct Case {
        const char* op;
        QVariantMap args;
        qint64 code;
    };
    const Case cases[] = {
        {"startRemoteServer", {}, koru::link::kErrorBadArguments},
        {"startRemoteServer",
         {{"port", "80"}, {"docRoot", QByteArray("/tmp")}},
         koru::link::kErrorBadArguments},
        {"startRemoteServer", {{"port", 80}, {"docRoot", "/tmp"}}, koru::link::kErrorBadArguments},
        {"requestSPLControllerNames", {}, koru::link::kErrorUnknownOperation},
        {"", {}, koru::link::kErrorUnknownOperation},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.op);
        const std::optional<QVariantMap> reply = server.handleCall(c.op, c.args);
        ASSERT_TRUE(reply);
        EXPECT_EQ(LinkError::fromVariant(reply->value("error"))->code, c.code);
    }
    EXPECT_EQ(server.port(), 0);
}

TEST(KORemoteLevelwatcher, ServiceNamesFitDnsSdAndKeepTheirParenthesis) {
    const std::string longHost(80, 'h');
    const std::string umlauts = std::string(45, 'x') + "\xc3\xa4\xc3\xa4"; // "ää" at the cut
    const std::pair<std::string, std::string> cases[] = {
        {"studio", "KORU SPL Server (studio)"},
        {"", "KORU SPL Server ()"},
        {longHost, "KORU SPL Server (" + std::string(45, 'h') + ")"},
        {umlauts, "KORU SPL Server (" + std::string(45, 'x') + ")"},
        {std::string(44, 'x') + "\xc3\xa4", "KORU SPL Server (" + std::string(44, 'x') + ")"},
    };
    for (const auto& [host, name] : cases) {
        EXPECT_EQ(KORemoteLevelwatcher::serviceName(host), name) << host;
        EXPECT_LE(KORemoteLevelwatcher::serviceName(host).size(), 63u);
    }
}

// KORU's side, played by the test: answers data requests as KORU's data source would.
std::optional<QVariantMap> koruAnswers(const QString& op, const QVariantMap& args) {
    if (op == "requestDataDictionaryForSPLInstrument" && args.value("name") == "Meter 1")
        return QVariantMap{{"data", QByteArray("<root name=\"Meter 1\"/>")}};
    if (op == "requestSPLLogWithAttributes")
        return QVariantMap{
            {"data",
             "<log for=\"" +
                 args.value("attributes").toMap().value("instrumentName").toString().toUtf8() +
                 "\"/>"}};
    return QVariantMap{};
}

// The real program, spawned with a link as KORU spawns it and serving a web folder on a free
// port.
struct RunningService {
    WebFolder web;
    koru::link::SpawnedService spawned = koru::link::spawnService(LEVELWATCH_PROGRAM);
    std::unique_ptr<LinkConnection> link;
    std::uint16_t port = 0;

    // Empty once it serves; otherwise what went wrong.
    std::string start() {
        if (!spawned.ok())
            return spawned.error.toStdString();
        link = std::make_unique<LinkConnection>(spawned.fd, &koruAnswers, nullptr);
        link->start();
        const CallResult started = link->callAndWait("startRemoteServer", startArgs(0, web.root));
        if (!started.ok())
            return started.error->message.toStdString();
        if (!started.reply.value("ok").toBool())
            return "the server did not start";
        port = std::uint16_t(started.reply.value("port").toLongLong());
        return port == 0 ? "no port was reported" : "";
    }
};

// The real program: started with a link as KORU starts it, it serves, fetches documents over
// the link, and quits as soon as KORU's end closes, freeing its port.
TEST(LevelwatchProgram, ServesOverTheLinkAndQuitsWhenTheLinkCloses) {
    RunningService service;
    ASSERT_EQ(service.start(), "");
    LinkConnection& link = *service.link;
    const std::uint16_t port = service.port;

    struct Case {
        std::string target;
        int status;
        std::string body;
    };
    const Case cases[] = {
        {"/spl/Meter%201", 200, "<root name=\"Meter 1\"/>"},
        {"/spl/Other", 404, "Not Found"},
        {"/splinstruments", 404, "Not Found"}, // KORU answered none
        {"/spl/Meter%201/log?instrumentName=x", 200, "<log for=\"Meter 1\"/>"},
        {"/index.html", 200, "<html>home</html>"},
        {"/%2e%2e/secret.txt", 404, "Not Found"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.target);
        const std::string answer =
            koru::test::rawExchange(port, "GET " + c.target + " HTTP/1.1\r\nHost: t\r\n\r\n");
        EXPECT_EQ(statusOf(answer), c.status) << answer;
        EXPECT_EQ(koru::test::bodyOf(answer), c.body);
    }

    // An unknown operation is refused, the service goes on.
    EXPECT_EQ(link.callAndWait("formatDisk", {}).error->code, koru::link::kErrorUnknownOperation);

    service.link.reset(); // KORU's end closes
    int status = -1;
    ASSERT_EQ(::waitpid(service.spawned.pid, &status, 0), service.spawned.pid);
    EXPECT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_TRUE(koru::test::portIsFree(port));
}

// Many clients at once while the service cannot accept (stopped here, busy in life): every
// connection waits in the queue and is answered once the service runs again. A short queue
// drops the surplus handshakes, and those clients wait seconds for the retries.
TEST(LevelwatchProgram, ABurstOfClientsWaitsInTheQueueInsteadOfBeingDropped) {
    RunningService service;
    ASSERT_EQ(service.start(), "");
    const koru::link::SpawnedService& spawned = service.spawned;
    const std::uint16_t port = service.port;

    ASSERT_EQ(::kill(spawned.pid, SIGSTOP), 0);
    // A failing run must not leave the service stopped (and the test runner waiting on it).
    struct Resume {
        pid_t pid;
        ~Resume() { ::kill(pid, SIGCONT); }
    } resume{spawned.pid};
    constexpr int kClients = 64;
    std::vector<pollfd> clients;
    for (int i = 0; i < kClients; ++i) {
        const int fd = koru::test::connectTo(port, SOCK_NONBLOCK);
        ASSERT_GE(fd, 0);
        clients.push_back(pollfd{fd, POLLOUT, 0});
    }
    // Every handshake completes in the queue (the safety deadline only ends a failing run).
    int connected = 0;
    std::vector<bool> done(kClients, false);
    while (connected < kClients) {
        ASSERT_GT(::poll(clients.data(), clients.size(), 10000), 0)
            << connected << " of " << kClients << " clients connected";
        for (int i = 0; i < kClients; ++i) {
            if (done[i] || !(clients[i].revents & POLLOUT))
                continue;
            int error = 0;
            socklen_t size = sizeof error;
            ::getsockopt(clients[i].fd, SOL_SOCKET, SO_ERROR, &error, &size);
            ASSERT_EQ(error, 0);
            done[i] = true;
            clients[i].events = 0;
            ++connected;
        }
    }
    const std::string request = "GET /spl/Meter%201 HTTP/1.1\r\nHost: t\r\n\r\n";
    for (const pollfd& client : clients)
        ASSERT_EQ(::send(client.fd, request.data(), request.size(), MSG_NOSIGNAL),
                  ssize_t(request.size()));
    ASSERT_EQ(::kill(spawned.pid, SIGCONT), 0);
    for (const pollfd& client : clients) {
        ::fcntl(client.fd, F_SETFL, 0);
        timeval timeout{30, 0};
        ::setsockopt(client.fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
        const std::string answer = koru::test::readAnswer(client.fd);
        EXPECT_EQ(statusOf(answer), 200) << answer;
        ::close(client.fd);
    }

    service.link.reset();
    int status = -1;
    ASSERT_EQ(::waitpid(spawned.pid, &status, 0), spawned.pid);
}

TEST(LevelwatchProgram, RefusesToRunWithoutALink) {
    const pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        ::unsetenv(koru::link::kLinkFdVariable);
        ::execl(LEVELWATCH_PROGRAM, LEVELWATCH_PROGRAM, static_cast<char*>(nullptr));
        ::_exit(127);
    }
    int status = -1;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 2);
}

} // namespace
