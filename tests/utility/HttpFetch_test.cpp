#include "utility/VEString.h"

#include <gtest/gtest.h>

#include <httplib.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <future>
#include <mutex>
#include <string>
#include <thread>

namespace {

using namespace std::chrono_literals;
using koru::utility::HttpFetchError;
using koru::utility::HttpFetchOptions;

constexpr std::size_t kLimit = 1000;

// A server on a free loopback port, answering the routes the tests need.
class LocalServer {
public:
    LocalServer() {
        m_server.Get("/text", [this](const httplib::Request& request, httplib::Response& response) {
            {
                const std::lock_guard lock(m_mutex);
                m_userAgent = request.get_header_value("User-Agent");
                m_target = request.target;
            }
            response.set_content("Pegel 94,0 dB \xc2\xb1 0,1", "text/plain; charset=utf-8");
        });
        m_server.Get("/empty", [](const httplib::Request&, httplib::Response& response) {
            response.status = 200;
        });
        m_server.Get("/created", [](const httplib::Request&, httplib::Response& response) {
            response.status = 201;
            response.set_content("made", "text/plain");
        });
        m_server.Get("/status/(\\d+)",
                     [](const httplib::Request& request, httplib::Response& response) {
                         response.status = std::stoi(request.matches[1]);
                         response.set_content("<html>an error page</html>", "text/html");
                     });
        m_server.Get("/redirect", [](const httplib::Request&, httplib::Response& response) {
            response.set_redirect("/text");
        });
        m_server.Get("/sized/(\\d+)", [](const httplib::Request& request,
                                         httplib::Response& response) {
            response.set_content(std::string(std::stoul(request.matches[1]), 'x'), "text/plain");
        });
        // No Content-Length: only counting the bytes as they come can stop it.
        m_server.Get("/stream", [](const httplib::Request&, httplib::Response& response) {
            response.set_chunked_content_provider("text/plain",
                                                  [](std::size_t offset, httplib::DataSink& sink) {
                                                      if (offset >= 100 * kLimit) {
                                                          sink.done();
                                                          return true;
                                                      }
                                                      const std::string chunk(100, 'y');
                                                      return sink.write(chunk.data(), chunk.size());
                                                  });
        });
        m_server.Get("/binary", [](const httplib::Request&, httplib::Response& response) {
            response.set_content(std::string("ok \xff\xfe bytes", 9), "application/octet-stream");
        });
        m_server.Get("/silent", [this](const httplib::Request&, httplib::Response& response) {
            m_release.wait(); // answers only when the test lets it
            response.set_content("late", "text/plain");
        });
        m_port = m_server.bind_to_any_port("127.0.0.1");
        m_thread = std::thread([this] { m_server.listen_after_bind(); });
        // stop() does nothing until the server runs, so wait for that (a flag, not a time).
        while (!m_server.is_running())
            std::this_thread::yield();
    }
    ~LocalServer() {
        m_releaseGate.set_value();
        m_server.stop();
        m_thread.join();
    }

    int port() const { return m_port; }
    QUrl url(const char* path) const {
        return QUrl(QStringLiteral("http://127.0.0.1:%1%2").arg(m_port).arg(path));
    }
    std::string userAgent() const {
        const std::lock_guard lock(m_mutex);
        return m_userAgent;
    }
    std::string target() const {
        const std::lock_guard lock(m_mutex);
        return m_target;
    }

private:
    httplib::Server m_server;
    int m_port = -1;
    std::thread m_thread;
    std::promise<void> m_releaseGate;
    std::shared_future<void> m_release = m_releaseGate.get_future().share();
    mutable std::mutex m_mutex;
    std::string m_userAgent;
    std::string m_target;
};

class HttpFetchTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { server = new LocalServer; }
    static void TearDownTestSuite() {
        delete server;
        server = nullptr;
    }

    static HttpFetchOptions options() {
        HttpFetchOptions limits;
        limits.maxBytes = kLimit;
        return limits;
    }

    static LocalServer* server;
};

LocalServer* HttpFetchTest::server = nullptr;

TEST_F(HttpFetchTest, FetchesTheBodyAsUtf8TextNamingTheProgram) {
    const auto answer = VEString::stringFromHttpResponse(server->url("/text?x=1%202"), options());
    ASSERT_TRUE(answer.ok()) << answer.error->description.toStdString();
    EXPECT_EQ(*answer.text, QString::fromUtf8("Pegel 94,0 dB \xc2\xb1 0,1"));
    EXPECT_FALSE(answer.error.has_value());
    EXPECT_EQ(server->userAgent(), "KORU " + VEString::stringWithBundleVersion().toStdString());
    EXPECT_EQ(server->target(), "/text?x=1%202") << "the query reaches the server as given";
}

struct SuccessCase {
    const char* path;
    std::size_t length;
};

TEST_F(HttpFetchTest, EveryTwoHundredStatusAndBodiesUpToTheLimitSucceed) {
    const SuccessCase cases[] = {{"/empty", 0}, {"/created", 4}, {"/sized/1000", kLimit}};
    for (const SuccessCase& c : cases) {
        SCOPED_TRACE(c.path);
        const auto answer = VEString::stringFromHttpResponse(server->url(c.path), options());
        ASSERT_TRUE(answer.ok()) << answer.error->description.toStdString();
        EXPECT_EQ(std::size_t(answer.text->size()), c.length);
    }
}

struct FailureCase {
    const char* name;
    QString url; // "%1" is the local server's port
    HttpFetchError code;
    const char* mention; // part of the description
};

class HttpFetchFailureTest : public HttpFetchTest,
                             public ::testing::WithParamInterface<FailureCase> {};

TEST_P(HttpFetchFailureTest, EveryFailureIsAnErrorWithoutText) {
    const FailureCase& c = GetParam();
    const QUrl url(c.url.contains(QLatin1String("%1")) ? c.url.arg(server->port()) : c.url);
    const auto answer = VEString::stringFromHttpResponse(url, options());
    EXPECT_FALSE(answer.ok());
    EXPECT_FALSE(answer.text.has_value()) << "a failure must never read as a page";
    ASSERT_TRUE(answer.error.has_value());
    EXPECT_EQ(answer.error->domain, QString::fromLatin1(koru::utility::kHttpFetchErrorDomain));
    EXPECT_EQ(answer.error->code, qint64(c.code));
    EXPECT_TRUE(answer.error->description.contains(QString::fromUtf8(c.mention)))
        << answer.error->description.toStdString();
}

INSTANTIATE_TEST_SUITE_P(
    Cases, HttpFetchFailureTest,
    ::testing::Values(
        FailureCase{"NotFound", "http://127.0.0.1:%1/status/404", HttpFetchError::HttpStatus,
                    "404"},
        FailureCase{"ServerError", "http://127.0.0.1:%1/status/500", HttpFetchError::HttpStatus,
                    "500"},
        FailureCase{"NoContentStatusBelow200", "http://127.0.0.1:%1/status/199",
                    HttpFetchError::HttpStatus, "199"},
        FailureCase{"RedirectNotFollowed", "http://127.0.0.1:%1/redirect",
                    HttpFetchError::HttpStatus, "302"},
        FailureCase{"AnnouncedTooLarge", "http://127.0.0.1:%1/sized/1001", HttpFetchError::TooLarge,
                    "1000 bytes"},
        FailureCase{"StreamedTooLarge", "http://127.0.0.1:%1/stream", HttpFetchError::TooLarge,
                    "1000 bytes"},
        FailureCase{"NotUtf8", "http://127.0.0.1:%1/binary", HttpFetchError::NotText, "UTF-8"},
        FailureCase{"Https", "https://127.0.0.1:%1/text", HttpFetchError::UnsupportedScheme,
                    "Only http"},
        FailureCase{"Ftp", "ftp://127.0.0.1/file", HttpFetchError::UnsupportedScheme, "Only http"},
        FailureCase{"Relative", "just/a/path", HttpFetchError::InvalidAddress, "just/a/path"},
        FailureCase{"NoHost", "http:///text", HttpFetchError::InvalidAddress, "no server"}),
    [](const auto& info) { return std::string(info.param.name); });

// A port nobody listens on: bound for a moment to learn a free one, then closed.
int closedPort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = 0;
    socklen_t size = sizeof(address);
    const bool bound = fd >= 0 &&
                       ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0 &&
                       ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size) == 0;
    if (fd >= 0)
        ::close(fd);
    return bound ? ntohs(address.sin_port) : -1;
}

TEST_F(HttpFetchTest, RefusedConnectionIsAnError) {
    const int port = closedPort();
    ASSERT_GT(port, 0);
    const auto answer = VEString::stringFromHttpResponse(
        QUrl(QStringLiteral("http://127.0.0.1:%1/").arg(port)), options());
    EXPECT_FALSE(answer.ok());
    ASSERT_TRUE(answer.error.has_value());
    EXPECT_EQ(answer.error->code, qint64(HttpFetchError::ConnectionFailed));
    EXPECT_TRUE(answer.error->description.contains(QString::number(port)));
}

TEST_F(HttpFetchTest, ServerThatNeverAnswersEndsInAnErrorAfterTheReadTimeout) {
    HttpFetchOptions limits = options();
    limits.readTimeout = 100ms; // the program's 4 s, shortened for the test
    const auto answer = VEString::stringFromHttpResponse(server->url("/silent"), limits);
    EXPECT_FALSE(answer.ok());
    ASSERT_TRUE(answer.error.has_value());
    EXPECT_EQ(answer.error->code, qint64(HttpFetchError::NoAnswer));
    EXPECT_TRUE(answer.error->description.contains(QLatin1String("0.1 s")))
        << answer.error->description.toStdString();
}

TEST(HttpFetchDefaultsTest, ProgramLimitsAreFourSecondsAndABoundedBody) {
    const HttpFetchOptions defaults;
    EXPECT_EQ(defaults.connectTimeout, 4s);
    EXPECT_EQ(defaults.readTimeout, 4s);
    EXPECT_GT(defaults.maxBytes, 0U);
}

} // namespace
