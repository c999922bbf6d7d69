#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include <sys/types.h>

namespace koru::test {

// A helper program a test runs beside itself (a bus or sound server), started with posix_spawn
// and its standard output on a pipe. QProcess is no use here: its child runs code of the test
// process in shared memory before exec, which the thread checker takes for the parent thread's
// own and then misses that thread's locking. Stopped (terminated, then killed) on destruction,
// and killed with the test process when that dies first.
class SpawnedProcess {
public:
    SpawnedProcess() = default;
    ~SpawnedProcess();

    SpawnedProcess(const SpawnedProcess&) = delete;
    SpawnedProcess& operator=(const SpawnedProcess&) = delete;

    // Looks `program` up on PATH; false (and nothing running) when it cannot be started. Call it
    // from a thread that lives as long as the program should (the test's main thread): the
    // kernel's parent-death signal follows the starting thread.
    // `mergeErrors` sends its standard error down the same pipe; otherwise it is dropped.
    bool start(const std::string& program, const std::vector<std::string>& arguments,
               bool mergeErrors = false);
    bool running() const { return m_pid > 0; }
    pid_t pid() const { return m_pid; }

    // The next line of output without its line end, or nothing when the program closed its
    // output or `timeout` passed first.
    std::optional<std::string> readLine(std::chrono::milliseconds timeout);
    // Asks the program to end (SIGTERM), kills it when it has not after `grace`, and reaps it.
    void stop(std::chrono::milliseconds grace = std::chrono::seconds(5));

private:
    bool waitForExit(std::chrono::milliseconds timeout);

    pid_t m_pid = -1;
    int m_output = -1;    // read end of the output pipe
    int m_exitWatch = -1; // pidfd: readable once the program has ended
    std::string m_buffered;
};

} // namespace koru::test
