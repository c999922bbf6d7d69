#include "platform/log/Log.h"

#include <QCoreApplication>

#include <clocale>

// The SPL network service; started by KORU over its link. Until the link lands it only starts
// its logger and exits cleanly.
int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName("levelwatch");
    std::setlocale(LC_NUMERIC, "C");
    koru::log::init("levelwatch");
    koru::log::info("levelwatch started");
    return 0;
}
