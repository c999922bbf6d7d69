#include "levelwatch/LevelwatchHttpServer.h"

#include "platform/log/Log.h"

#include <httplib.h>

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

LevelwatchHttpServer::LevelwatchHttpServer(std::filesystem::path docRoot,
                                           KOLevelwatcherDataFetcher& fetcher, Limits limits)
    : m_docRoot(std::move(docRoot)), m_fetcher(fetcher), m_limits(limits) {}

LevelwatchHttpServer::~LevelwatchHttpServer() {
    stop();
}

std::uint16_t LevelwatchHttpServer::start(std::uint16_t port) {
    stop();
    m_server = std::make_unique<httplib::Server>();
    httplib::Server& server = *m_server;
    const std::size_t threads = m_limits.threads;
    server.new_task_queue = [threads] { return new httplib::ThreadPool(threads); };
    server.set_read_timeout(m_limits.readTimeoutSeconds, 0);
    server.set_write_timeout(m_limits.writeTimeoutSeconds, 0);
    server.set_keep_alive_timeout(m_limits.keepAliveSeconds);
    server.set_keep_alive_max_count(m_limits.keepAliveRequests);
    server.set_payload_max_length(m_limits.maxBodyBytes);
    // No SO_REUSEPORT: a second server on the same port must fail, not share it.
    int listening = -1;
    server.set_socket_options([&listening](int socket) {
        listening = socket;
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
    if (listening >= 0 && ::listen(listening, SOMAXCONN) != 0)
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
    m_server->stop();
    if (m_thread.joinable())
        m_thread.join();
    m_server.reset();
    m_port = 0;
}
