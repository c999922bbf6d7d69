#include "TestSupport.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QLocale>
#include <QThread>

#include <clocale>

namespace koru::test {

QString testRoot() { return qEnvironmentVariable("KORU_TEST_ROOT"); }

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
