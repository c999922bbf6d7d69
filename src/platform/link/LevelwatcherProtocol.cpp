#include "platform/link/LevelwatcherProtocol.h"

#include <QFile>

#include <cerrno>
#include <charconv>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <fcntl.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

extern char** environ;

namespace koru::link {

SpawnedService spawnService(const QString& program) {
    SpawnedService result;
    int fds[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) != 0) {
        result.error =
            QStringLiteral("socketpair: %1").arg(QString::fromLocal8Bit(strerror(errno)));
        return result;
    }
    // dup2 onto the child's descriptor clears close-on-exec there, but only when the numbers
    // differ: move ours out of the way first.
    int childEnd = fds[1];
    if (childEnd == kChildLinkFd) {
        childEnd = ::fcntl(fds[1], F_DUPFD_CLOEXEC, 10);
        ::close(fds[1]);
    }
    std::vector<std::string> environment;
    for (char** e = environ; e && *e; ++e)
        if (std::strncmp(*e, kLinkFdVariable, std::strlen(kLinkFdVariable)) != 0 ||
            (*e)[std::strlen(kLinkFdVariable)] != '=')
            environment.emplace_back(*e);
    // Built by appending: GCC 12 misreads the operator+ chain as an overflow at -O1.
    std::string linkFd(kLinkFdVariable);
    linkFd.append("=").append(std::to_string(kChildLinkFd));
    environment.push_back(std::move(linkFd));
    std::vector<char*> envp;
    for (std::string& entry : environment)
        envp.push_back(entry.data());
    envp.push_back(nullptr);

    const QByteArray path = QFile::encodeName(program);
    char* argv[] = {const_cast<char*>(path.constData()), nullptr};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, childEnd, kChildLinkFd);
    pid_t pid = -1;
    const int rc = ::posix_spawn(&pid, path.constData(), &actions, nullptr, argv, envp.data());
    posix_spawn_file_actions_destroy(&actions);
    ::close(childEnd);
    if (rc != 0) {
        ::close(fds[0]);
        result.error = QStringLiteral("cannot start %1: %2")
                           .arg(program, QString::fromLocal8Bit(strerror(rc)));
        return result;
    }
    result.pid = pid;
    result.fd = fds[0];
    return result;
}

std::optional<int> inheritedLinkFd() {
    const char* value = std::getenv(kLinkFdVariable);
    if (value == nullptr)
        return std::nullopt;
    int fd = -1;
    const char* end = value + std::strlen(value);
    const auto [last, ec] = std::from_chars(value, end, fd);
    ::unsetenv(kLinkFdVariable);
    if (ec != std::errc() || last != end || fd < 0)
        return std::nullopt;
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISSOCK(info.st_mode))
        return std::nullopt;
    // Not handed on to anything this program might start.
    ::fcntl(fd, F_SETFD, FD_CLOEXEC);
    return fd;
}

} // namespace koru::link
