#pragma once

#include <QByteArray>

#include <cstdint>
#include <string>

namespace koru::netaudio {

// A POSIX socket descriptor closed on destruction.
class Socket {
public:
    Socket() = default;
    explicit Socket(int fd) : mFd(fd) {}
    ~Socket() { close(); }
    Socket(Socket&& o) noexcept : mFd(o.mFd) { o.mFd = -1; }
    Socket& operator=(Socket&& o) noexcept;
    int fd() const { return mFd; }
    bool valid() const { return mFd >= 0; }
    void close();

private:
    int mFd = -1;
};

// Listens on the first free port from `port` on (at most `tries` tried); invalid when none binds.
Socket listenFrom(const std::string& address, std::uint16_t port, std::uint16_t& bound,
                  std::uint32_t tries = 100);
// Starts a non-blocking connect; invalid when the address cannot be parsed.
Socket startConnect(const std::string& address, std::uint16_t port);
Socket acceptFrom(const Socket& listener);
void prepareStream(const Socket& s); // non-blocking, no Nagle delay

// Writes as much of `out` as the socket takes now and drops that from `out`; false on error.
bool flushSome(const Socket& s, QByteArray& out);
// Reads what is there into `in`; false on error or end of stream.
bool readSome(const Socket& s, QByteArray& in);

} // namespace koru::netaudio
