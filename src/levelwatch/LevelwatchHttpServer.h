#pragma once

#include "levelwatch/KOLevelwatcherConnection.h"

#include <cstdint>
#include <filesystem>
#include <memory>
#include <thread>

namespace koru::levelwatch {
class BoundedHttpServer;
}

// Bounds of the service's HTTP server.
struct LevelwatchHttpLimits {
    std::size_t threads = 128;
    int readTimeoutSeconds = 5;
    int writeTimeoutSeconds = 5;
    int keepAliveSeconds = 5;
    std::size_t keepAliveRequests = 1000;
    std::size_t maxHeaders = 100;
    std::size_t maxBodyBytes = 64 * 1024;
    // What one request may send in all (request line, headers, body): a client sending header
    // lines without end is cut off here instead of growing the service's memory.
    std::size_t maxRequestBytes = 1024 * 1024;
};

// The service's HTTP server: GET and HEAD only, bounded requests, timeouts on every read and
// write, and enough worker threads that a slow or stuck client never holds up the others (each
// open connection occupies one worker until it closes or times out).
class LevelwatchHttpServer {
public:
    using Limits = LevelwatchHttpLimits;

    LevelwatchHttpServer(std::filesystem::path docRoot, KOLevelwatcherDataFetcher& fetcher,
                         Limits limits = {});
    ~LevelwatchHttpServer(); // stops

    LevelwatchHttpServer(const LevelwatchHttpServer&) = delete;
    LevelwatchHttpServer& operator=(const LevelwatchHttpServer&) = delete;

    // Binds every IPv4 interface on `port` (0: any free port) and serves on a thread of its own.
    // Answers the port really bound, or 0 when binding failed.
    std::uint16_t start(std::uint16_t port);
    void stop();
    std::uint16_t port() const { return m_port; }

private:
    std::filesystem::path m_docRoot;
    KOLevelwatcherDataFetcher& m_fetcher;
    Limits m_limits;
    std::unique_ptr<koru::levelwatch::BoundedHttpServer> m_server;
    std::thread m_thread;
    std::uint16_t m_port = 0;
};
