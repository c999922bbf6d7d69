// Stands in for KORU in the levelwatch load test: starts the real service over its link, answers
// its data requests with a meter document of the real size, prints the port, and keeps the link
// open until standard input closes. Used by levelwatch_load.sh.
#include "platform/link/LevelwatcherProtocol.h"
#include "platform/link/LinkConnection.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <cstdio>
#include <iostream>
#include <string>

#include <sys/wait.h>

namespace {

const QByteArray kMeterDocument =
    "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?><root "
    "id=\"6F9619FF-8B86-D011-B42D-00C04FC964FF\" name=\"Meter 1\" time=\"2026-12-11T10:00:00\">"
    "<spl unit=\"dB(A)\">73.5</spl><avg unit=\"dB(A)\">71.2</avg><leq unit=\"dB(A)\">72.0</leq>"
    "<weighting>A-Weighted</weighting><speed>Fast</speed><avgtime>5</avgtime>"
    "<leqDuration>1800</leqDuration><leqRunningSince>1min 05sec</leqRunningSince></root>";

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    if (argc < 2) {
        std::cerr << "usage: levelwatch_load_host <levelwatch program> [port]\n";
        return 2;
    }
    const qint64 port = argc > 2 ? std::stoll(argv[2]) : 0;
    QTemporaryDir web;
    QFile page(web.filePath("index.html"));
    page.open(QIODevice::WriteOnly);
    page.write("<!DOCTYPE html><html><head><title>KORU SPL Server</title></head><body>"
               "<h1>KORU SPL Server</h1><div id=\"meters\"></div></body></html>");
    page.close();

    const koru::link::SpawnedService service = koru::link::spawnService(argv[1]);
    if (!service.ok()) {
        std::cerr << service.error.toStdString() << "\n";
        return 1;
    }
    koru::link::LinkConnection link(
        service.fd,
        [](const QString& op, const QVariantMap& args) -> std::optional<QVariantMap> {
            if (op == QLatin1String(koru::link::kOpMeterDocument) &&
                args.value("name").toString() == "Meter 1")
                return QVariantMap{{"data", kMeterDocument}};
            return QVariantMap{};
        },
        nullptr);
    link.start();
    const koru::link::CallResult started = link.callAndWait(
        koru::link::kOpStartRemoteServer, {{"port", port}, {"docRoot", web.path().toUtf8()}});
    if (!started.ok() || !started.reply.value("ok").toBool()) {
        std::cerr << "the service did not start\n";
        return 1;
    }
    std::cout << started.reply.value("port").toLongLong() << std::endl;
    std::string line;
    while (std::getline(std::cin, line)) {
    }
    link.close();
    ::waitpid(service.pid, nullptr, 0);
    return 0;
}
