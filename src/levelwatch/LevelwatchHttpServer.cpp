#include "levelwatch/LevelwatchHttpServer.h"

#include "platform/log/Log.h"

#include <httplib.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <memory>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

namespace koru::levelwatch {

namespace {

// Waits until `fd` is ready for `events`, `stopFd` is signalled, or `timeout` has passed:
// 1 when ready, 0 on timeout or stop, -1 on error.
int waitFor(int fd, short events, int stopFd, std::chrono::milliseconds timeout) {
    pollfd fds[2] = {{fd, events, 0}, {stopFd, POLLIN, 0}};
    for (;;) {
        const int n = ::poll(fds, 2, int(timeout.count()));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return n;
        if (fds[1].revents)
            return 0;
        return (fds[0].revents & (events | POLLHUP | POLLERR)) ? 1 : 0;
    }
}

std::chrono::milliseconds toMilliseconds(time_t seconds, time_t microseconds) {
    return std::chrono::milliseconds(seconds * 1000 + microseconds / 1000);
}

void addressOf(int sock, bool peer, std::string& ip, int& port) {
    sockaddr_storage address{};
    socklen_t size = sizeof address;
    auto* generic = reinterpret_cast<sockaddr*>(&address);
    if ((peer ? ::getpeername(sock, generic, &size) : ::getsockname(sock, generic, &size)) != 0)
        return;
    char text[INET6_ADDRSTRLEN] = {};
    if (address.ss_family == AF_INET) {
        const auto* v4 = reinterpret_cast<const sockaddr_in*>(&address);
        ::inet_ntop(AF_INET, &v4->sin_addr, text, sizeof text);
        port = ntohs(v4->sin_port);
    } else if (address.ss_family == AF_INET6) {
        const auto* v6 = reinterpret_cast<const sockaddr_in6*>(&address);
        ::inet_ntop(AF_INET6, &v6->sin6_addr, text, sizeof text);
        port = ntohs(v6->sin6_port);
    }
    ip = text;
}

// One connection's socket as the library reads and writes it, with a budget of bytes per
// request. The read buffer lives as long as the connection, so the start of a pipelined next
// request is kept; every wait also ends when the server stops.
class BoundedSocketStream final : public httplib::Stream {
public:
    BoundedSocketStream(int sock, int stopFd, std::chrono::milliseconds readTimeout,
                        std::chrono::milliseconds writeTimeout, std::size_t requestBudget)
        : m_sock(sock), m_stopFd(stopFd), m_readTimeout(readTimeout), m_writeTimeout(writeTimeout),
          m_budget(requestBudget) {}

    void startRequest() { m_used = 0; }
    bool overspent() const { return m_overspent; }
    bool hasBuffered() const { return m_offset < m_size; }

    bool is_readable() const override {
        return hasBuffered() || waitFor(m_sock, POLLIN, m_stopFd, m_readTimeout) > 0;
    }
    bool is_writable() const override {
        return waitFor(m_sock, POLLOUT, m_stopFd, m_writeTimeout) > 0;
    }

    ssize_t read(char* ptr, size_t size) override {
        if (m_used >= m_budget) {
            m_overspent = true;
            return -1;
        }
        size = std::min(size, m_budget - m_used);
        if (!hasBuffered()) {
            if (waitFor(m_sock, POLLIN, m_stopFd, m_readTimeout) <= 0)
                return -1;
            ssize_t n = 0;
            do {
                n = ::recv(m_sock, m_buffer.data(), m_buffer.size(), 0);
            } while (n < 0 && errno == EINTR);
            if (n <= 0)
                return n;
            m_offset = 0;
            m_size = std::size_t(n);
        }
        const std::size_t n = std::min(size, m_size - m_offset);
        std::memcpy(ptr, m_buffer.data() + m_offset, n);
        m_offset += n;
        m_used += n;
        return ssize_t(n);
    }

    ssize_t write(const char* ptr, size_t size) override {
        if (!is_writable())
            return -1;
        ssize_t n = 0;
        do {
            n = ::send(m_sock, ptr, size, MSG_NOSIGNAL);
        } while (n < 0 && errno == EINTR);
        return n;
    }

    void get_remote_ip_and_port(std::string& ip, int& port) const override {
        addressOf(m_sock, true, ip, port);
    }
    void get_local_ip_and_port(std::string& ip, int& port) const override {
        addressOf(m_sock, false, ip, port);
    }
    socket_t socket() const override { return m_sock; }

private:
    int m_sock;
    int m_stopFd;
    std::chrono::milliseconds m_readTimeout;
    std::chrono::milliseconds m_writeTimeout;
    std::size_t m_budget;
    std::size_t m_used = 0;
    bool m_overspent = false;
    std::array<char, 4096> m_buffer{};
    std::size_t m_offset = 0;
    std::size_t m_size = 0;
};

} // namespace

// The library's server with our own connection loop: requests are read through a
// BoundedSocketStream, and idle keep-alive connections end at once when the server stops
// (the library's own loop polls them every few milliseconds and lets them linger).
class BoundedHttpServer final : public httplib::Server {
public:
    explicit BoundedHttpServer(std::size_t requestBudget)
        : m_requestBudget(requestBudget), m_stopFd(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}
    ~BoundedHttpServer() override {
        if (m_stopFd >= 0)
            ::close(m_stopFd);
    }

    void stopServing() {
        const std::uint64_t one = 1;
        // Stays readable: every connection's wait sees it, now and later.
        [[maybe_unused]] const ssize_t written = ::write(m_stopFd, &one, sizeof one);
        stop();
    }

private:
    bool process_and_close_socket(socket_t sock) override {
        BoundedSocketStream stream(
            sock, m_stopFd, toMilliseconds(read_timeout_sec_, read_timeout_usec_),
            toMilliseconds(write_timeout_sec_, write_timeout_usec_), m_requestBudget);
        const auto idle = std::chrono::seconds(keep_alive_timeout_sec_);
        bool ok = false;
        for (std::size_t left = keep_alive_max_count_; left > 0 && svr_sock_ != INVALID_SOCKET;
             --left) {
            if (!stream.hasBuffered() && waitFor(sock, POLLIN, m_stopFd, idle) <= 0)
                break;
            stream.startRequest();
            bool closed = false;
            ok = process_request(stream, left == 1, closed, nullptr);
            if (!ok || closed || stream.overspent())
                break;
        }
        ::shutdown(sock, SHUT_RDWR);
        ::close(sock);
        return ok;
    }

    std::size_t m_requestBudget;
    int m_stopFd;
};

} // namespace koru::levelwatch

LevelwatchHttpServer::LevelwatchHttpServer(std::filesystem::path docRoot,
                                           KOLevelwatcherDataFetcher& fetcher, Limits limits)
    : m_docRoot(std::move(docRoot)), m_fetcher(fetcher), m_limits(limits) {}

LevelwatchHttpServer::~LevelwatchHttpServer() {
    stop();
}

std::uint16_t LevelwatchHttpServer::start(std::uint16_t port) {
    stop();
    m_server = std::make_unique<koru::levelwatch::BoundedHttpServer>(m_limits.maxRequestBytes);
    httplib::Server& server = *m_server;
    const std::size_t threads = m_limits.threads;
    server.new_task_queue = [threads] { return new httplib::ThreadPool(threads); };
    server.set_read_timeout(m_limits.readTimeoutSeconds, 0);
    server.set_write_timeout(m_limits.writeTimeoutSeconds, 0);
    server.set_keep_alive_timeout(m_limits.keepAliveSeconds);
    server.set_keep_alive_max_count(m_limits.keepAliveRequests);
    server.set_payload_max_length(m_limits.maxBodyBytes);
    // No SO_REUSEPORT: a second server on the same port must fail, not share it.
    // Shared with the options function, which the server keeps past this call.
    auto listening = std::make_shared<std::atomic<int>>(-1);
    server.set_socket_options([listening](int socket) {
        listening->store(socket);
        int yes = 1;
        ::setsockopt(socket, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
        ::setsockopt(socket, IPPROTO_TCP, TCP_NODELAY, &yes, sizeof yes);
    });
    const std::size_t maxHeaders = m_limits.maxHeaders;
    // Everything is answered here, before the library's own routing: its pattern handlers would
    // run a regular expression over paths of any length.
    server.set_pre_routing_handler([this, maxHeaders](const httplib::Request& request,
                                                      httplib::Response& response) {
        if (request.method != "GET" && request.method != "HEAD") {
            response.status = 405;
            response.set_header("Allow", "GET, HEAD");
            // A body we never read must not be taken for the next request.
            response.set_header("Connection", "close");
            response.set_content("Method Not Allowed", "text/plain; charset=utf-8");
            return httplib::Server::HandlerResponse::Handled;
        }
        if (request.headers.size() > maxHeaders) {
            response.status = 431;
            response.set_header("Connection", "close");
            response.set_content("Request Header Fields Too Large", "text/plain; charset=utf-8");
            return httplib::Server::HandlerResponse::Handled;
        }
        try {
            KOLevelwatcherConnection::respond(request, response, m_docRoot, m_fetcher);
        } catch (const std::exception& error) {
            koru::log::error("levelwatch: request {} failed: {}", request.path, error.what());
            response.status = 500;
            response.set_content("Internal Server Error", "text/plain; charset=utf-8");
        }
        return httplib::Server::HandlerResponse::Handled;
    });
    int bound = 0;
    if (port == 0) {
        bound = server.bind_to_any_port("0.0.0.0");
    } else if (server.bind_to_port("0.0.0.0", port)) {
        bound = port;
    }
    if (bound <= 0) {
        m_server.reset();
        return 0;
    }
    // The library listens with a backlog of 5: a page of meters opening many connections at
    // once would overflow it, and each dropped connection waits a second or more for the
    // handshake to be retried. Listening again on the bound socket widens the queue.
    if (const int socket = listening->load(); socket >= 0 && ::listen(socket, SOMAXCONN) != 0)
        koru::log::warn("levelwatch: the connection queue could not be widened");
    m_port = std::uint16_t(bound);
    m_thread = std::thread([&server] { server.listen_after_bind(); });
    // stop() only reaches a server that is running: wait for the thread to get there (it does
    // at once; this is no timing guess).
    while (!server.is_running())
        std::this_thread::yield();
    return m_port;
}

void LevelwatchHttpServer::stop() {
    if (!m_server)
        return;
    m_server->stopServing();
    if (m_thread.joinable())
        m_thread.join();
    m_server.reset();
    m_port = 0;
}
