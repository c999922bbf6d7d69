#include "TestSupport.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QLocale>
#include <QThread>

#include <sys/resource.h>

#include <clocale>
#include <csignal>

namespace koru::test {

QString testRoot() {
    return qEnvironmentVariable("KORU_TEST_ROOT");
}

ScopedLocale::ScopedLocale(const char* name) {
    const char* previous = std::setlocale(LC_ALL, nullptr);
    m_previous = previous ? previous : "C";
    m_active = std::setlocale(LC_ALL, name) != nullptr;
    if (m_active)
        QLocale::setDefault(QLocale(QString::fromLatin1(name).section('.', 0, 0)));
}

ScopedLocale::~ScopedLocale() {
    std::setlocale(LC_ALL, m_previous.c_str());
    QLocale::setDefault(QLocale::c());
}

ScopedFileSizeLimit::ScopedFileSizeLimit(unsigned long bytes) {
    rlimit limit{};
    if (getrlimit(RLIMIT_FSIZE, &limit) != 0)
        return;
    m_previousCurrent = limit.rlim_cur;
    m_previousHandler = std::signal(SIGXFSZ, SIG_IGN);
    limit.rlim_cur = bytes;
    m_active = setrlimit(RLIMIT_FSIZE, &limit) == 0;
}

ScopedFileSizeLimit::~ScopedFileSizeLimit() {
    rlimit limit{};
    if (getrlimit(RLIMIT_FSIZE, &limit) == 0) {
        limit.rlim_cur = m_previousCurrent;
        setrlimit(RLIMIT_FSIZE, &limit);
    }
    std::signal(SIGXFSZ, m_previousHandler);
}

bool spinUntil(const std::function<bool()>& done, int timeoutMs) {
    QElapsedTimer timer;
    timer.start();
    while (!done()) {
        if (timer.elapsed() > timeoutMs)
            return done();
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::msleep(1);
    }
    return true;
}

} // namespace koru::test
