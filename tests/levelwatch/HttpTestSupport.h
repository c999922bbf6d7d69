#pragma once

#include "levelwatch/KOLevelwatcherConnection.h"

#include <QDir>
#include <QFile>
#include <QString>
#include <QTemporaryDir>

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

namespace koru::test {

// Answers like KORU would for one meter "Meter 1", and remembers what it was asked.
class FakeFetcher : public KOLevelwatcherDataFetcher {
public:
    KOLevelwatcherDataReply meterDocument(const QString& name) override {
        record("meter:" + name);
        if (failing)
            return {KOLevelwatcherDataReply::Kind::Failed, {}, "no reply in time"};
        if (name != "Meter 1")
            return {};
        return {KOLevelwatcherDataReply::Kind::Document, "<root name=\"Meter 1\"/>", {}};
    }
    KOLevelwatcherDataReply meterList() override {
        record("list");
        return {KOLevelwatcherDataReply::Kind::Document,
                "<splinstruments><instrument>Meter 1</instrument></splinstruments>",
                {}};
    }
    KOLevelwatcherDataReply logDocument(const QVariantMap& attributes) override {
        QStringList pairs;
        for (auto it = attributes.begin(); it != attributes.end(); ++it)
            pairs << it.key() + "=" + it.value().toString();
        record("log:" + pairs.join("&"));
        if (attributes.value("instrumentName") != "Meter 1")
            return {};
        return {KOLevelwatcherDataReply::Kind::Document, "<root/>", {}};
    }
    std::vector<QString> calls() {
        std::lock_guard lock(mutex);
        return asked;
    }
    void clear() {
        std::lock_guard lock(mutex);
        asked.clear();
    }
    std::atomic<bool> failing{false};

private:
    void record(const QString& call) {
        std::lock_guard lock(mutex);
        asked.push_back(call);
    }
    std::mutex mutex;
    std::vector<QString> asked;
};

// A web folder with a page, a sub-folder with an index, and a secret file beside the folder.
struct WebFolder {
    QTemporaryDir base;
    QString root;
    WebFolder() {
        root = QDir(base.path()).filePath("levelwatch");
        QDir().mkpath(root + "/sub");
        QDir().mkpath(base.path() + "/levelwatch2");
        write(root + "/index.html", "<html>home</html>");
        write(root + "/sub/index.html", "<html>sub</html>");
        write(root + "/page+plus.html", "plus");
        write(root + "/a b.css", "body{}");
        write(base.path() + "/secret.txt", "secret");
        write(base.path() + "/levelwatch2/secret.txt", "sibling secret");
    }
    static void write(const QString& path, const QByteArray& bytes) {
        QFile file(path);
        file.open(QIODevice::WriteOnly);
        file.write(bytes);
    }
};

// A TCP connection to the loopback port; -1 when it failed. With SOCK_NONBLOCK in `flags` the
// connection may still be in progress.
inline int connectTo(std::uint16_t port, int flags = 0) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | flags, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 &&
        !((flags & SOCK_NONBLOCK) && errno == EINPROGRESS)) {
        ::close(fd);
        return -1;
    }
    return fd;
}

// Reads one answer from a connected socket: until the server closes, `limit` bytes came, or
// one whole answer with a length is in.
inline std::string readAnswer(int fd, std::size_t limit = 1 << 20) {
    std::string answer;
    char buffer[4096];
    while (answer.size() < limit) {
        const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
        if (n <= 0)
            break;
        answer.append(buffer, std::size_t(n));
        // One whole answer is enough: a kept-alive connection would only close at its timeout.
        const std::size_t headerEnd = answer.find("\r\n\r\n");
        const std::size_t length = answer.find("Content-Length: ");
        if (headerEnd != std::string::npos && length != std::string::npos && length < headerEnd &&
            answer.size() >= headerEnd + 4 + std::stoul(answer.substr(length + 16)))
            break;
    }
    return answer;
}

// One raw exchange: sends `request` as it is and reads until the server closes or `limit`
// bytes came. The socket has a generous receive timeout, only so a broken server fails the
// test instead of hanging it.
inline std::string rawExchange(std::uint16_t port, const std::string& request,
                               std::size_t limit = 1 << 20, bool shutdownWrite = false) {
    const int fd = connectTo(port);
    if (fd < 0)
        return "connect failed";
    timeval timeout{30, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    std::size_t sent = 0;
    while (sent < request.size()) {
        const ssize_t n = ::send(fd, request.data() + sent, request.size() - sent, MSG_NOSIGNAL);
        if (n <= 0)
            break; // the server may close early on an oversized request
        sent += std::size_t(n);
    }
    if (shutdownWrite)
        ::shutdown(fd, SHUT_WR);
    std::string answer = readAnswer(fd, limit);
    ::close(fd);
    return answer;
}

// The status code of a raw answer, 0 when there is none.
inline int statusOf(const std::string& answer) {
    if (answer.rfind("HTTP/1.", 0) != 0 || answer.size() < 12)
        return 0;
    return std::stoi(answer.substr(9, 3));
}

inline std::string bodyOf(const std::string& answer) {
    const std::size_t end = answer.find("\r\n\r\n");
    return end == std::string::npos ? std::string() : answer.substr(end + 4);
}

// True when nothing listens on the port any more.
inline bool portIsFree(std::uint16_t port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    int yes = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_ANY);
    const bool free = ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    ::close(fd);
    return free;
}

} // namespace koru::test
