#include "platform/desktop/TerminationSignals.h"

#include "platform/log/Log.h"

#include <QSocketNotifier>

#include <array>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstring>

#include <fcntl.h>
#include <unistd.h>

namespace koru::platform {

namespace {

constexpr std::array<int, 2> kSignals{SIGINT, SIGTERM};

// The write end for the handler; -1 while no object is installed.
std::atomic<int> writeEnd{-1};
int readEnd = -1;

void onSignal(int signalNumber) {
    const int savedErrno = errno;
    const int fd = writeEnd.load(std::memory_order_relaxed);
    if (fd >= 0) {
        const unsigned char byte = static_cast<unsigned char>(signalNumber);
        // A full pipe already holds a request; losing this one changes nothing.
        [[maybe_unused]] const ssize_t written = ::write(fd, &byte, 1);
    }
    errno = savedErrno;
}

} // namespace

TerminationSignals::TerminationSignals(QObject* parent) : QObject(parent) {
    if (writeEnd.load() >= 0) {
        log::error("termination signals: a second handler was requested and not installed");
        return;
    }
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0) {
        log::error("termination signals: no pipe ({}); SIGINT and SIGTERM end KORU at once",
                   std::strerror(errno));
        return;
    }
    readEnd = fds[0];
    writeEnd.store(fds[1]);
    struct sigaction action {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (const int number : kSignals)
        ::sigaction(number, &action, nullptr);
    m_notifier = std::make_unique<QSocketNotifier>(readEnd, QSocketNotifier::Read);
    connect(m_notifier.get(), &QSocketNotifier::activated, this, &TerminationSignals::readPipe);
}

TerminationSignals::~TerminationSignals() {
    if (!m_notifier)
        return;
    struct sigaction action {};
    action.sa_handler = SIG_DFL;
    sigemptyset(&action.sa_mask);
    for (const int number : kSignals)
        ::sigaction(number, &action, nullptr);
    m_notifier.reset();
    ::close(writeEnd.exchange(-1));
    ::close(readEnd);
    readEnd = -1;
}

void TerminationSignals::readPipe() {
    unsigned char bytes[16];
    ssize_t count = 0;
    while ((count = ::read(readEnd, bytes, sizeof bytes)) > 0)
        for (ssize_t i = 0; i < count; ++i) {
            log::info("received signal {}, quitting", static_cast<int>(bytes[i]));
            emit terminationRequested(bytes[i]);
        }
}

} // namespace koru::platform
