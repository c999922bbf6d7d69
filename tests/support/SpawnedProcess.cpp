#include "SpawnedProcess.h"

#include <cerrno>
#include <csignal>

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace koru::test {

namespace {

using Clock = std::chrono::steady_clock;

int millisecondsLeft(Clock::time_point deadline) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    return left.count() > 0 ? int(left.count()) : 0;
}

// Waits for `fd` to become readable; false on timeout.
bool waitReadable(int fd, Clock::time_point deadline) {
    for (;;) {
        pollfd watched{fd, POLLIN, 0};
        const int ready = ::poll(&watched, 1, millisecondsLeft(deadline));
        if (ready > 0)
            return true;
        if (ready == 0 || errno != EINTR)
            return false;
    }
}

int spawn(const std::vector<std::string>& line, const posix_spawn_file_actions_t& actions,
          pid_t& pid) {
    std::vector<char*> argv;
    for (const std::string& word : line)
        argv.push_back(const_cast<char*>(word.c_str()));
    argv.push_back(nullptr);
    return ::posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
}

void closeFd(int& fd) {
    if (fd >= 0)
        ::close(fd);
    fd = -1;
}

} // namespace

SpawnedProcess::~SpawnedProcess() {
    stop();
}

bool SpawnedProcess::start(const std::string& program, const std::vector<std::string>& arguments,
                           bool mergeErrors) {
    if (running())
        return false;
    int pipeFds[2];
    if (::pipe2(pipeFds, O_CLOEXEC) != 0)
        return false;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], STDOUT_FILENO);
    if (mergeErrors)
        posix_spawn_file_actions_adddup2(&actions, pipeFds[1], STDERR_FILENO);
    else
        posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);

    // setpriv ties the program's life to this process's: a test killed by a sanitizer report
    // leaves no server behind. Without setpriv the program runs on its own.
    std::vector<std::string> line{"setpriv", "--pdeathsig", "KILL", "--", program};
    line.insert(line.end(), arguments.begin(), arguments.end());
    pid_t pid = -1;
    int failed = spawn(line, actions, pid);
    if (failed == ENOENT)
        failed = spawn({line.begin() + 4, line.end()}, actions, pid);
    posix_spawn_file_actions_destroy(&actions);
    ::close(pipeFds[1]);
    if (failed != 0) {
        ::close(pipeFds[0]);
        return false;
    }
    m_pid = pid;
    m_output = pipeFds[0];
    // The header's declaration lacks C linkage on this libc, so the call goes direct.
    m_exitWatch = int(::syscall(SYS_pidfd_open, pid, 0));
    m_buffered.clear();
    return true;
}

std::optional<std::string> SpawnedProcess::readLine(std::chrono::milliseconds timeout) {
    const Clock::time_point deadline = Clock::now() + timeout;
    for (;;) {
        const std::size_t end = m_buffered.find('\n');
        if (end != std::string::npos) {
            std::string line = m_buffered.substr(0, end);
            m_buffered.erase(0, end + 1);
            return line;
        }
        if (m_output < 0 || !waitReadable(m_output, deadline))
            return std::nullopt;
        char chunk[512];
        const ssize_t got = ::read(m_output, chunk, sizeof chunk);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            return std::nullopt;
        m_buffered.append(chunk, std::size_t(got));
    }
}

bool SpawnedProcess::waitForExit(std::chrono::milliseconds timeout) {
    // Without a pidfd (an old kernel) the program is taken as gone only once killed.
    if (m_exitWatch < 0)
        return false;
    return waitReadable(m_exitWatch, Clock::now() + timeout);
}

void SpawnedProcess::stop(std::chrono::milliseconds grace) {
    if (!running())
        return;
    ::kill(m_pid, SIGTERM);
    if (!waitForExit(grace))
        ::kill(m_pid, SIGKILL);
    int status = 0;
    while (::waitpid(m_pid, &status, 0) < 0 && errno == EINTR) {
    }
    m_pid = -1;
    closeFd(m_output);
    closeFd(m_exitWatch);
}

} // namespace koru::test
