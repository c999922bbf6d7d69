#include "NetSocket.h"

#include <arpa/inet.h>
#include <cerrno>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

namespace koru::netaudio {

Socket& Socket::operator=(Socket&& o) noexcept {
    if (this != &o) {
        close();
        mFd = o.mFd;
        o.mFd = -1;
    }
    return *this;
}

void Socket::close() {
    if (mFd >= 0)
        ::close(mFd);
    mFd = -1;
}

namespace {
bool makeAddress(const std::string& address, std::uint16_t port, sockaddr_in& out) {
    out = {};
    out.sin_family = AF_INET;
    out.sin_port = htons(port);
    return inet_pton(AF_INET, address.c_str(), &out.sin_addr) == 1;
}
} // namespace

Socket listenFrom(const std::string& address, std::uint16_t port, std::uint16_t& bound,
                  std::uint32_t tries) {
    for (std::uint32_t p = port; p < std::uint32_t(port) + tries && p <= 65535; ++p) {
        sockaddr_in sa;
        if (!makeAddress(address, std::uint16_t(p), sa))
            return {};
        Socket s(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
        if (!s.valid())
            return {};
        const int one = 1;
        ::setsockopt(s.fd(), SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
        if (::bind(s.fd(), reinterpret_cast<sockaddr*>(&sa), sizeof sa) == 0 &&
            ::listen(s.fd(), 4) == 0) {
            bound = std::uint16_t(p);
            return s;
        }
    }
    return {};
}

Socket startConnect(const std::string& address, std::uint16_t port) {
    sockaddr_in sa;
    if (!makeAddress(address, port, sa))
        return {};
    Socket s(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    if (!s.valid())
        return {};
    if (::connect(s.fd(), reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0 && errno != EINPROGRESS)
        return {};
    prepareStream(s);
    return s;
}

Socket acceptFrom(const Socket& listener) {
    Socket s(::accept4(listener.fd(), nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK));
    if (s.valid())
        prepareStream(s);
    return s;
}

void prepareStream(const Socket& s) {
    ::fcntl(s.fd(), F_SETFL, ::fcntl(s.fd(), F_GETFL) | O_NONBLOCK);
    const int one = 1;
    ::setsockopt(s.fd(), IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
}

bool flushSome(const Socket& s, QByteArray& out) {
    while (!out.isEmpty()) {
        const ssize_t n = ::send(s.fd(), out.constData(), std::size_t(out.size()), MSG_NOSIGNAL);
        if (n < 0)
            return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR;
        out.remove(0, int(n));
    }
    return true;
}

bool readSome(const Socket& s, QByteArray& in) {
    char buffer[16384];
    for (;;) {
        const ssize_t n = ::recv(s.fd(), buffer, sizeof buffer, 0);
        if (n > 0) {
            in.append(buffer, int(n));
            continue;
        }
        if (n == 0)
            return false;
        return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR;
    }
}

} // namespace koru::netaudio
