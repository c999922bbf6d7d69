#include "HttpTestSupport.h"

#include "levelwatch/LevelwatchHttpServer.h"

#include <gtest/gtest.h>
#include <httplib.h>

#include <future>
#include <thread>

namespace {

using koru::test::bodyOf;
using koru::test::FakeFetcher;
using koru::test::rawExchange;
using koru::test::statusOf;
using koru::test::WebFolder;

class LevelwatchHttpServerTest : public ::testing::Test {
protected:
    void SetUp() override {
        // Short timeouts: requests that never end are cut sooner.
        LevelwatchHttpServer::Limits limits;
        limits.readTimeoutSeconds = 1;
        limits.keepAliveSeconds = 1;
        server = std::make_unique<LevelwatchHttpServer>(web.root.toStdString(), fetcher, limits);
        port = server->start(0);
        ASSERT_NE(port, 0);
    }

    // A GET as a client sends it: "GET <target> HTTP/1.1", closing after the answer.
    std::string get(const std::string& target, const std::string& method = "GET") {
        return rawExchange(port, method + " " + target +
                                     " HTTP/1.1\r\nHost: test\r\nConnection: close\r\n\r\n");
    }

    WebFolder web;
    FakeFetcher fetcher;
    std::unique_ptr<LevelwatchHttpServer> server;
    std::uint16_t port = 0;
};

TEST_F(LevelwatchHttpServerTest, RoutesAnswerWithTheirDocumentsAndStatus) {
    struct Case {
        std::string target;
        int status;
        std::string body;
        std::string type;
        std::vector<QString> asked; // what KORU was asked, in order
    };
    const Case cases[] = {
        {"/spl/Meter%201", 200, "<root name=\"Meter 1\"/>", "application/xml", {"meter:Meter 1"}},
        {"/spl/Nobody", 404, "Not Found", "application/xml", {"meter:Nobody"}},
        {"/splinstruments",
         200,
         "<splinstruments><instrument>Meter 1</instrument></splinstruments>",
         "application/xml",
         {"list"}},
        {"/spl/Meter%201/log?start=0&resolution=10&instrumentName=Other",
         200,
         "<root/>",
         "application/xml",
         {"log:instrumentName=Meter 1&resolution=10&start=0"}},
        {"/spl/Meter%201/log?start=1&start=2",
         200,
         "<root/>",
         "application/xml",
         {"log:instrumentName=Meter 1&start=1"}},
        {"/splinstruments/Meter%201/log",
         200,
         "<root/>",
         "application/xml",
         {"log:instrumentName=Meter 1"}},
        {"/splfoo", 404, "Not Found", "application/xml", {}},
        {"/spl/a/b", 404, "Not Found", "application/xml", {}},
        {"/spl/a/log/x", 404, "Not Found", "application/xml", {}},
        {"/spl/%FF", 404, "Not Found", "application/xml", {}},
        {"/", 200, "<html>home</html>", "text/html; charset=utf-8", {}},
        {"/index.html", 200, "<html>home</html>", "text/html; charset=utf-8", {}},
        {"/sub/", 200, "<html>sub</html>", "text/html; charset=utf-8", {}},
        {"/page+plus.html", 200, "plus", "text/html; charset=utf-8", {}},
        {"/a%20b.css", 200, "body{}", "text/css; charset=utf-8", {}},
        {"/missing.html", 404, "Not Found", "text/plain; charset=utf-8", {}},
        // Ways out of the web folder, plain and encoded.
        {"/../secret.txt", 404, "Not Found", "", {}},
        {"/%2e%2e/secret.txt", 404, "Not Found", "", {}},
        {"/..%2fsecret.txt", 404, "Not Found", "", {}},
        {"/sub/..%2F..%2Fsecret.txt", 404, "Not Found", "", {}},
        {"/%2E%2E%2F%2E%2E%2Fetc%2Fpasswd", 404, "Not Found", "", {}},
        {"/../levelwatch2/secret.txt", 404, "Not Found", "", {}},
        {"/index.html%00.png", 404, "Not Found", "", {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.target);
        fetcher.clear();
        const std::string answer = get(c.target);
        EXPECT_EQ(statusOf(answer), c.status) << answer;
        EXPECT_EQ(bodyOf(answer), c.body);
        if (!c.type.empty()) {
            EXPECT_NE(answer.find("Content-Type: " + c.type + "\r\n"), std::string::npos) << answer;
        }
        EXPECT_EQ(fetcher.calls(), c.asked);
        EXPECT_EQ(answer.find("secret"), std::string::npos);
    }
}

TEST_F(LevelwatchHttpServerTest, HeadAnswersWithoutBodyAndOtherMethodsAreRefused) {
    const std::string head = get("/spl/Meter%201", "HEAD");
    EXPECT_EQ(statusOf(head), 200) << head;
    EXPECT_EQ(bodyOf(head), "");
    EXPECT_NE(head.find("Content-Type: application/xml"), std::string::npos);

    for (const char* method : {"POST", "PUT", "DELETE", "OPTIONS", "PATCH"}) {
        SCOPED_TRACE(method);
        fetcher.clear();
        const std::string answer =
            rawExchange(port, std::string(method) +
                                  " /spl/Meter%201 HTTP/1.1\r\nHost: t\r\nContent-Length: 3\r\n"
                                  "\r\nabc");
        EXPECT_EQ(statusOf(answer), 405) << answer;
        EXPECT_NE(answer.find("Allow: GET, HEAD"), std::string::npos);
        EXPECT_TRUE(fetcher.calls().empty());
    }
}

TEST_F(LevelwatchHttpServerTest, ALinkFailureIsAGatewayTimeoutNotANotFound) {
    fetcher.failing = true;
    const std::string answer = get("/spl/Meter%201");
    EXPECT_EQ(statusOf(answer), 504) << answer;
    EXPECT_EQ(answer.find("<root"), std::string::npos);
}

TEST_F(LevelwatchHttpServerTest, KeepAliveServesManyRequestsOnOneConnection) {
    httplib::Client client("127.0.0.1", port);
    client.set_keep_alive(true);
    for (int i = 0; i < 20; ++i) {
        const auto result = client.Get(i % 2 ? "/spl/Meter%201" : "/index.html");
        ASSERT_TRUE(result);
        EXPECT_EQ(result->status, 200);
    }
}

// Malformed and oversized requests: each gets an error answer or a closed connection, none
// reaches KORU, and the server goes on answering.
TEST_F(LevelwatchHttpServerTest, MalformedAndOversizedRequestsLeaveTheServerAnswering) {
    const std::string longName(20000, 'a');
    std::string manyHeaders = "GET /index.html HTTP/1.1\r\nHost: t\r\n";
    for (int i = 0; i < 500; ++i)
        manyHeaders += "X-H" + std::to_string(i) + ": v\r\n";
    manyHeaders += "\r\n";
    const std::string cases[] = {
        "",
        "\r\n\r\n",
        "garbage\r\n\r\n",
        "GET\r\n\r\n",
        "GET /\r\n\r\n",
        "GET / HTTP/9.9\r\n\r\n",
        "BREW /pot HTTP/1.1\r\n\r\n",
        "GET /spl/" + longName + " HTTP/1.1\r\nHost: t\r\n\r\n",
        "GET / HTTP/1.1\r\nX-Long: " + std::string(100000, 'b') + "\r\n\r\n",
        manyHeaders,
        "GET / HTTP/1.1\r\nHost: t\r\nContent-Length: 99999999999999999999\r\n\r\n",
        "GET / HTTP/1.1\r\nHost: t\r\nContent-Length: -5\r\n\r\n",
        "POST / HTTP/1.1\r\nHost: t\r\nContent-Length: 10000000\r\n\r\n" + std::string(1000, 'c'),
        "GET / HTTP/1.1\r\nHost: t\r\nTransfer-Encoding: chunked\r\n\r\nzz\r\n",
        std::string("GET /\0/ HTTP/1.1\r\n\r\n", 20),
        "GET /%zz%%% HTTP/1.1\r\nHost: t\r\n\r\n",
        "GET /spl/%C0%AF HTTP/1.1\r\nHost: t\r\n\r\n",
        "GET http://other/spl/Meter%201 HTTP/1.1\r\nHost: t\r\n\r\n",
        "GET / HTTP/1.1\r\nNoColonHeader\r\n\r\n",
        std::string(70000, '\xff'),
    };
    for (const std::string& request : cases) {
        SCOPED_TRACE(request.substr(0, 40));
        fetcher.clear();
        const std::string answer = rawExchange(port, request);
        const int status = statusOf(answer);
        EXPECT_TRUE(status == 0 || status == 400 || status == 404 || status == 405 ||
                    status == 413 || status == 414 || status == 431 || status == 200)
            << answer.substr(0, 200);
        EXPECT_TRUE(fetcher.calls().empty());
        // Still answering, every time.
        const std::string check = get("/spl/Meter%201");
        ASSERT_EQ(statusOf(check), 200) << "after: " << request.substr(0, 40);
    }
}

// A client that connects and sends nothing (or half a request) holds one worker only.
// Header lines without end, sent faster than any read timeout: the request is cut off at its
// byte budget (the connection closes under the sender) instead of growing without bound.
TEST_F(LevelwatchHttpServerTest, ARequestHeadWithoutEndIsCutOffAtItsBudget) {
    const int fd = koru::test::connectTo(port);
    ASSERT_GE(fd, 0);
    timeval safety{30, 0}; // only so a broken server fails the test instead of hanging it
    ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &safety, sizeof safety);
    const std::string start = "GET /index.html HTTP/1.1\r\nHost: t\r\n";
    const std::string line = "X-Fill: " + std::string(1000, 'f') + "\r\n";
    constexpr std::size_t kEndless = 64u * 1024u * 1024u;
    std::size_t sent = 0;
    bool refused = ::send(fd, start.data(), start.size(), MSG_NOSIGNAL) <= 0;
    while (!refused && sent < kEndless) {
        const ssize_t n = ::send(fd, line.data(), line.size(), MSG_NOSIGNAL);
        refused = n <= 0;
        sent += n > 0 ? std::size_t(n) : 0;
    }
    ::close(fd);
    EXPECT_TRUE(refused) << sent << " bytes of headers were taken";
    EXPECT_LT(sent, kEndless);
    EXPECT_EQ(statusOf(get("/spl/Meter%201")), 200);
}

TEST_F(LevelwatchHttpServerTest, StuckClientsDoNotBlockOthers) {
    std::vector<int> stuck;
    for (int i = 0; i < 20; ++i) {
        const int fd = koru::test::connectTo(port);
        ASSERT_GE(fd, 0);
        if (i % 2)
            ::send(fd, "GET /spl/Me", 11, MSG_NOSIGNAL);
        stuck.push_back(fd);
    }
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(statusOf(get("/spl/Meter%201")), 200);
    for (const int fd : stuck)
        ::close(fd);
}

// Stopping does not wait for clients: an idle kept-alive connection and one stuck in the
// middle of a request are both closed at once, however long their timeouts.
TEST(LevelwatchHttpServer, StopClosesIdleAndStuckConnectionsAtOnce) {
    WebFolder web;
    FakeFetcher fetcher;
    LevelwatchHttpServer::Limits limits;
    limits.keepAliveSeconds = 3600;
    limits.readTimeoutSeconds = 3600;
    LevelwatchHttpServer server(web.root.toStdString(), fetcher, limits);
    const std::uint16_t port = server.start(0);
    ASSERT_NE(port, 0);
    const auto connect = [port] {
        const int fd = koru::test::connectTo(port);
        EXPECT_GE(fd, 0);
        timeval safety{30, 0};
        ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &safety, sizeof safety);
        return fd;
    };
    const int idle = connect();
    const std::string request = "GET /index.html HTTP/1.1\r\nHost: t\r\n\r\n";
    ASSERT_EQ(::send(idle, request.data(), request.size(), MSG_NOSIGNAL), ssize_t(request.size()));
    EXPECT_EQ(statusOf(koru::test::readAnswer(idle)), 200);
    const int stuck = connect();
    ASSERT_EQ(::send(stuck, "GET /spl/Me", 11, MSG_NOSIGNAL), 11);

    server.stop();
    EXPECT_TRUE(koru::test::portIsFree(port));
    for (const int fd : {idle, stuck}) {
        char byte = 0;
        EXPECT_LE(::recv(fd, &byte, 1, 0), 0); // end of file, not the safety timeout's data
        ::close(fd);
    }
}

TEST(LevelwatchHttpServer, ABusyPortFailsAndStopFreesThePort) {
    WebFolder web;
    FakeFetcher fetcher;
    LevelwatchHttpServer first(web.root.toStdString(), fetcher);
    const std::uint16_t port = first.start(0);
    ASSERT_NE(port, 0);
    LevelwatchHttpServer second(web.root.toStdString(), fetcher);
    EXPECT_EQ(second.start(port), 0);
    EXPECT_FALSE(koru::test::portIsFree(port));
    first.stop();
    EXPECT_TRUE(koru::test::portIsFree(port));
    EXPECT_EQ(second.start(port), port);
}

} // namespace
