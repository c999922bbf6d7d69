#include "DesktopSession.h"

#include "platform/plist/PropertyList.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QStandardPaths>
#include <QThread>

#include <gtest/gtest.h>
#include <httplib.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

using namespace koru::test;
using koru::platform::PlistFormat;
using koru::platform::PropertyList;

std::uint16_t freePort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_ANY);
    socklen_t size = sizeof address;
    ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size);
    ::close(fd);
    return ntohs(address.sin_port);
}

bool portIsFree(std::uint16_t port) {
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

// The direct children of a process whose command line names `program`.
QList<pid_t> childrenNamed(qint64 parent, const char* program) {
    QList<pid_t> found;
    QDir tasks(QString("/proc/%1/task").arg(parent));
    for (const QString& task : tasks.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile file(tasks.filePath(task + "/children"));
        if (!file.open(QIODevice::ReadOnly))
            continue;
        for (const QByteArray& pid : file.readAll().split(' ')) {
            QFile command(QString("/proc/%1/cmdline").arg(QString::fromLatin1(pid.trimmed())));
            if (!pid.trimmed().isEmpty() && command.open(QIODevice::ReadOnly) &&
                command.readAll().contains(program))
                found << pid.trimmed().toInt();
        }
    }
    return found;
}

// Gone, or a zombie nobody reaps in this container: either way it no longer runs.
bool hasEnded(pid_t pid) {
    QFile stat(QString("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return true;
    const QByteArray text = stat.readAll();
    const qsizetype close = text.lastIndexOf(')');
    return close > 0 && text.size() > close + 2 && text.at(close + 2) == 'Z';
}

// The real program with an SPL meter: the server settings command opens its window, Start
// starts levelwatch, whose HTTP answers come from KORU over the link; when KORU is killed the
// service sees its link close, quits and frees the port.
TEST(SplServer, KoruServesItsMetersOverHttpAndTheServiceDiesWithIt) {
    const QString xdotool = QStandardPaths::findExecutable(QStringLiteral("xdotool"));
    if (xdotool.isEmpty())
        GTEST_SKIP() << "xdotool is not installed";
    VirtualDisplay display;
    if (!display.started())
        GTEST_SKIP() << "Xvfb could not be started";
    WindowWatcher windows(display.name());
    ASSERT_TRUE(windows.ready());
    TestAccount account;
    ASSERT_TRUE(account.valid());
    const std::uint16_t port = freePort();
    ASSERT_NE(port, 0);
    ASSERT_TRUE(PropertyList::write(
        account.defaultsFile(),
        QVariantMap{{"sla_accept", true}, {"levelwatch.port", qint64(port)}}, PlistFormat::Xml));
    const QString session = account.folder("home") + "/meter.kosession";
    const QVariantMap file{
        {"KORU.ActiveInstruments",
         QVariantList{sessionInstrument("KOSplController", "Meter 1", true,
                                        "6F9619FF-8B86-D011-B42D-00C04FC964FF")}}};
    ASSERT_TRUE(PropertyList::write(session, file, PlistFormat::Xml));

    QProcess koru;
    QProcessEnvironment environment = account.environment(display.name());
    environment.insert("KORU_LEVELWATCH", LEVELWATCH_PROGRAM);
    environment.insert("KORU_DNSSD", "off");
    koru.setProcessEnvironment(environment);
    koru.setProcessChannelMode(QProcess::MergedChannels);
    koru.start(QStringLiteral(KORU_PROGRAM), {session});
    ASSERT_TRUE(koru.waitForStarted(kStartTimeoutMs));

    const auto waitForWindow = [&](const QString& wanted) {
        const QDeadlineTimer deadline(kStartTimeoutMs);
        while (!deadline.hasExpired()) {
            const auto [window, title] = windows.nextMappedWindow(int(deadline.remainingTime()));
            if (window == 0)
                return false;
            if (title == wanted)
                return true;
        }
        return false;
    };
    ASSERT_TRUE(waitForWindow("Meter 1")) << koru.readAll().toStdString();
    const QString started = account.waitForStartUp(koru);
    ASSERT_TRUE(started.isEmpty()) << started.toStdString();

    const auto run = [&](const QStringList& arguments) {
        QProcess tool;
        QProcessEnvironment toolEnvironment = QProcessEnvironment::systemEnvironment();
        toolEnvironment.insert("DISPLAY", display.name());
        tool.setProcessEnvironment(toolEnvironment);
        tool.start(xdotool, arguments);
        EXPECT_TRUE(tool.waitForFinished(kStartTimeoutMs));
        return QString::fromUtf8(tool.readAllStandardOutput()).trimmed();
    };
    // With no window manager the keyboard follows the pointer: into the meter's window for the
    // command's shortcut, then into the settings window, whose default button is Start.
    const QString meterWindow = run({"search", "--name", "^Meter 1$"}).section('\n', 0, 0);
    ASSERT_FALSE(meterWindow.isEmpty());
    run({"mousemove", "--window", meterWindow, "40", "40", "click", "1"});
    run({"key", "ctrl+shift+w"});
    ASSERT_TRUE(waitForWindow("SPL Server")) << koru.readAll().toStdString();
    const QString serverWindow = run({"search", "--name", "^SPL Server$"}).section('\n', 0, 0);
    ASSERT_FALSE(serverWindow.isEmpty());
    run({"mousemove", "--window", serverWindow, "5", "5"});
    run({"key", "Return"});

    // The service is up once it answers; KORU writes the port it reported.
    httplib::Client client("127.0.0.1", port);
    client.set_connection_timeout(std::chrono::seconds(5));
    client.set_read_timeout(std::chrono::seconds(10));
    const QDeadlineTimer deadline(kStartTimeoutMs);
    httplib::Result list = client.Get("/splinstruments");
    while (!list && !deadline.hasExpired()) {
        QThread::msleep(50);
        list = client.Get("/splinstruments");
    }
    ASSERT_TRUE(list) << "the service never answered; KORU said:\n" << koru.readAll().toStdString();
    EXPECT_EQ(list->status, 200);
    EXPECT_NE(list->body.find(">Meter 1</instrument>"), std::string::npos) << list->body;
    EXPECT_EQ(list->get_header_value("Content-Type"), "application/xml");

    const auto meter = client.Get("/spl/Meter%201");
    ASSERT_TRUE(meter);
    EXPECT_EQ(meter->status, 200);
    EXPECT_NE(meter->body.find("name=\"Meter 1\""), std::string::npos) << meter->body;
    EXPECT_NE(meter->body.find("6F9619FF-8B86-D011-B42D-00C04FC964FF"), std::string::npos);
    const auto log = client.Get("/spl/Meter%201/log?start=0&resolution=10");
    ASSERT_TRUE(log);
    EXPECT_EQ(log->status, 200);
    EXPECT_NE(log->body.find("<root"), std::string::npos) << log->body;

    for (const char* missing :
         {"/spl/Nobody", "/spl/Nobody/log", "/splfoo", "/%2e%2e/data",
          "/../../config/KORU/defaults.plist", "/%2E%2E/%2E%2E/config/KORU/defaults.plist"}) {
        const auto answer = client.Get(missing);
        ASSERT_TRUE(answer) << missing;
        EXPECT_EQ(answer->status, 404) << missing;
        EXPECT_EQ(answer->body.find("sla_accept"), std::string::npos);
    }
    const auto page = client.Get("/");
    ASSERT_TRUE(page);
    EXPECT_EQ(page->status, 200);
    EXPECT_NE(page->body.find("KORU SPL Server"), std::string::npos);
    EXPECT_EQ(PropertyList::read(account.defaultsFile())
                  .value.toMap()
                  .value("levelwatch.port")
                  .toLongLong(),
              port);

    const QList<pid_t> services = childrenNamed(koru.processId(), "levelwatch");
    ASSERT_EQ(services.size(), 1);
    // As a crash would: no quit path runs in KORU.
    ::kill(pid_t(koru.processId()), SIGKILL);
    ASSERT_TRUE(koru.waitForFinished(kStartTimeoutMs));
    // A zombie leader may still have threads tearing down: the port goes with the last one.
    const QDeadlineTimer gone(kStartTimeoutMs);
    while (!(hasEnded(services.front()) && portIsFree(port)) && !gone.hasExpired())
        QThread::msleep(20);
    EXPECT_TRUE(hasEnded(services.front())) << "levelwatch outlived KORU";
    EXPECT_TRUE(portIsFree(port)) << "levelwatch's port stayed taken";
}

} // namespace
