#include "platform/defaults/UserDefaults.h"
#include "platform/dispatch/SerialQueue.h"
#include "platform/link/LevelwatcherProtocol.h"
#include "spl/KOLocalLevelwatcher.h"
#include "spl/KOStatusTransformer.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>
#include <httplib.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

using koru::link::LinkError;

// KORU's documents as a fake: one meter "Meter 1"; the log echoes its parameters.
class FakeDataSource : public KOLevelwatcherLocalDataSource {
public:
    std::optional<QByteArray> splDataDictionaryFromInstrument(const QString& name) override {
        if (throwing)
            throw std::runtime_error("builder broke");
        if (name != "Meter 1")
            return std::nullopt;
        return QByteArray("<root name=\"Meter 1\"><spl unit=\"dB(A)\">73.5</spl></root>");
    }
    std::optional<QByteArray> splControllers() override {
        return QByteArray("<splinstruments><instrument>Meter 1</instrument></splinstruments>");
    }
    std::optional<QByteArray>
    splLogDataWithParameters(const QMap<QString, QString>& parameters) override {
        QStringList pairs;
        for (auto it = parameters.begin(); it != parameters.end(); ++it)
            pairs << it.key() + "=" + it.value();
        return ("<log " + pairs.join(' ') + "/>").toUtf8();
    }
    std::atomic<bool> throwing{false};
};

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

class KOLocalLevelwatcherTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(folder.isValid());
        defaults =
            std::make_unique<koru::platform::UserDefaults>(folder.filePath("defaults.plist"));
    }

    std::unique_ptr<KOLocalLevelwatcher> makeServer(QStringList addresses = {"127.0.0.1",
                                                                             "192.168.1.20"}) {
        KOLocalLevelwatcher::Services services;
        services.defaults = defaults.get();
        services.backgroundQueue = &queue;
        services.program = LEVELWATCH_PROGRAM;
        services.docRoot = folder.filePath("web");
        services.hostAddresses = [addresses] { return addresses; };
        auto server = std::make_unique<KOLocalLevelwatcher>(std::move(services));
        server->setDataSource(&source);
        return server;
    }

    struct Outcome {
        bool done = false;
        bool ok = false;
        std::optional<LinkError> error;
    };
    // Starts and runs the event loop until the completion has run and, after a success, the
    // address has been looked up.
    Outcome start(KOLocalLevelwatcher& server) {
        Outcome outcome;
        std::vector<int> statuses;
        auto connection = QObject::connect(&server, &KOLocalLevelwatcher::statusChanged,
                                           [&](int status) { statuses.push_back(status); });
        server.start([&](bool ok, std::optional<LinkError> error) { outcome = {true, ok, error}; });
        EXPECT_EQ(server.status(), KOLocalLevelwatcher::Starting);
        EXPECT_TRUE(server.isStarting());
        EXPECT_TRUE(koru::test::spinUntil([&] { return outcome.done; }, 30000));
        if (outcome.ok) {
            queue.waitUntilIdle();
            koru::test::spinUntil([&] { return !server.addressString().isEmpty(); }, 1000);
        }
        QObject::disconnect(connection);
        EXPECT_FALSE(server.isStarting());
        EXPECT_EQ(statuses.front(), KOLocalLevelwatcher::Starting);
        return outcome;
    }

    QTemporaryDir folder;
    std::unique_ptr<koru::platform::UserDefaults> defaults;
    koru::platform::SerialQueue queue{"test.background"};
    FakeDataSource source;
};

TEST_F(KOLocalLevelwatcherTest, StartsTheServiceServesKorusDocumentsAndStops) {
    // A port of our own that is free now; the built-in one may be taken on a shared machine.
    const std::uint16_t port = freePort();
    defaults->setInteger("levelwatch.port", port);
    auto server = makeServer();
    EXPECT_EQ(server->port(), port);
    EXPECT_EQ(server->status(), KOLocalLevelwatcher::Stopped);
    std::vector<QString> addresses;
    QObject::connect(server.get(), &KOLocalLevelwatcher::addressStringChanged,
                     [&](const QString& address) { addresses.push_back(address); });

    const Outcome outcome = start(*server);
    ASSERT_TRUE(outcome.ok) << (outcome.error ? outcome.error->message.toStdString() : "");
    EXPECT_EQ(server->status(), KOLocalLevelwatcher::Running);
    EXPECT_TRUE(server->isRunning());
    EXPECT_EQ(server->port(), port);
    EXPECT_EQ(defaults->integerForKey("levelwatch.port"), port);
    EXPECT_EQ(server->addressString(), QString("http://192.168.1.20:%1").arg(port));
    EXPECT_EQ(addresses, std::vector<QString>{server->addressString()});

    httplib::Client client("127.0.0.1", port);
    struct Case {
        const char* path;
        int status;
        std::string body;
    };
    const Case cases[] = {
        {"/spl/Meter%201", 200, "<root name=\"Meter 1\"><spl unit=\"dB(A)\">73.5</spl></root>"},
        {"/spl/Nobody", 404, "Not Found"},
        {"/splinstruments", 200,
         "<splinstruments><instrument>Meter 1</instrument></splinstruments>"},
        {"/spl/Meter%201/log?start=5&resolution=10&instrumentName=Other", 200,
         "<log instrumentName=Meter 1 resolution=10 start=5/>"},
        {"/index.html", 200, ""}, // the seeded page
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        const auto result = client.Get(c.path);
        ASSERT_TRUE(result);
        EXPECT_EQ(result->status, c.status);
        if (!c.body.empty()) {
            EXPECT_EQ(result->body, c.body);
        }
    }
    EXPECT_NE(client.Get("/index.html")->body.find("KORU SPL Server"), std::string::npos);

    // A failing builder answers "not found"; the service goes on.
    source.throwing = true;
    EXPECT_EQ(client.Get("/spl/Meter%201")->status, 404);
    source.throwing = false;

    server->stop();
    EXPECT_EQ(server->status(), KOLocalLevelwatcher::Stopped);
    EXPECT_FALSE(server->isRunning());
    EXPECT_TRUE(server->addressString().isEmpty());
    // The stop is one-way; the next start's reply proves it was handled first.
    const Outcome again = start(*server);
    ASSERT_TRUE(again.ok);
    EXPECT_EQ(server->status(), KOLocalLevelwatcher::Running);
}

TEST_F(KOLocalLevelwatcherTest, RefusedStartsReportTheirErrorAndLeaveTheStatusStopped) {
    struct Case {
        const char* what;
        qint64 port;
        bool removeFolder;
        qint64 code;
    };
    const Case cases[] = {
        {"port above 65535", 70000, false, koru::link::kErrorInvalidPort},
        {"negative port", -80, false, koru::link::kErrorInvalidPort},
        {"missing web folder", 8080, true, koru::link::kErrorNoFolder},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        auto server = makeServer();
        server->setPort(c.port);
        if (c.removeFolder)
            QDir(server->docRoot()).removeRecursively();
        const Outcome outcome = start(*server);
        EXPECT_FALSE(outcome.ok);
        ASSERT_TRUE(outcome.error);
        EXPECT_EQ(outcome.error->domain, "KOLevelwatcher");
        EXPECT_EQ(outcome.error->code, c.code);
        EXPECT_EQ(server->status(), KOLocalLevelwatcher::Stopped);
        EXPECT_FALSE(server->isRunning());
        EXPECT_EQ(defaults->objectForKey("levelwatch.port"), QVariant());
    }
}

TEST_F(KOLocalLevelwatcherTest, AServiceThatDiesSetsTheStatusStoppedAndTheNextStartRespawnsIt) {
    const std::uint16_t port = freePort();
    auto server = makeServer({"10.0.0.7"});
    server->setPort(port);
    Outcome outcome = start(*server);
    ASSERT_TRUE(outcome.ok);
    EXPECT_EQ(server->addressString(), QString("http://10.0.0.7:%1").arg(port));

    // Find the child (started from the background queue's thread) and kill it as a crash would.
    bool killed = false;
    QDir tasks(QString("/proc/%1/task").arg(::getpid()));
    for (const QString& task : tasks.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile children(tasks.filePath(task + "/children"));
        children.open(QIODevice::ReadOnly);
        for (const QString& pid :
             QString::fromLatin1(children.readAll()).split(' ', Qt::SkipEmptyParts)) {
            QFile command(QString("/proc/%1/cmdline").arg(pid));
            command.open(QIODevice::ReadOnly);
            if (command.readAll().contains("levelwatch"))
                killed = ::kill(pid.toInt(), SIGKILL) == 0;
        }
    }
    ASSERT_TRUE(killed);
    ASSERT_TRUE(koru::test::spinUntil(
        [&] { return server->status() == KOLocalLevelwatcher::Stopped; }, 30000));
    EXPECT_FALSE(server->isRunning());
    EXPECT_TRUE(server->addressString().isEmpty());

    outcome = start(*server);
    EXPECT_TRUE(outcome.ok);
    EXPECT_EQ(server->status(), KOLocalLevelwatcher::Running);
}

TEST(KOLocalLevelwatcher, StoredPortAndAddressChoice) {
    QTemporaryDir folder;
    koru::platform::UserDefaults defaults(folder.filePath("d.plist"));
    EXPECT_EQ(KOLocalLevelwatcher::storedPort(defaults), 1802465909);
    defaults.setInteger("levelwatch.port", 0);
    EXPECT_EQ(KOLocalLevelwatcher::storedPort(defaults), 1802465909);
    defaults.setInteger("levelwatch.port", 8080);
    EXPECT_EQ(KOLocalLevelwatcher::storedPort(defaults), 8080);

    struct Case {
        QStringList addresses;
        std::optional<QString> address;
    };
    const Case cases[] = {
        {{"127.0.0.1", "192.168.0.4", "10.0.0.1"}, "http://192.168.0.4:29301"},
        {{"127.0.0.1"}, std::nullopt},
        {{}, std::nullopt},
        {{"127.1.2.3", "::1", "fe80::1"}, std::nullopt},
        {{"1.2.3", "10.1.1.1"}, "http://10.1.1.1:29301"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(KOLocalLevelwatcher::addressStringFor(c.addresses, 29301), c.address)
            << c.addresses.join(',').toStdString();
}

TEST(KOLocalLevelwatcher, TheWebFolderIsSeededOnceAndNeverTouchedAgain) {
    QTemporaryDir folder;
    const QString web = folder.filePath("support/levelwatch");
    ASSERT_TRUE(KOLocalLevelwatcher::prepareWebFolder(web));
    for (const char* page : {"index.html", "style.css", "levels.js"})
        EXPECT_TRUE(QFile::exists(web + "/" + page)) << page;
    QFile index(web + "/index.html");
    ASSERT_TRUE(index.open(QIODevice::ReadWrite | QIODevice::Truncate));
    index.write("mine");
    index.close();
    QFile::remove(web + "/style.css");
    ASSERT_TRUE(KOLocalLevelwatcher::prepareWebFolder(web));
    QFile again(web + "/index.html");
    ASSERT_TRUE(again.open(QIODevice::ReadOnly));
    EXPECT_EQ(again.readAll(), "mine");
    EXPECT_FALSE(QFile::exists(web + "/style.css"));
    // A file where the folder should be is not replaced.
    const QString blocked = folder.filePath("blocked");
    QFile file(blocked);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.close();
    EXPECT_FALSE(KOLocalLevelwatcher::prepareWebFolder(blocked));
}

TEST(KOLocalLevelwatcher, DataRequestsAreTypeCheckedAndAnsweredFromTheSource) {
    QTemporaryDir folder;
    koru::platform::UserDefaults defaults(folder.filePath("d.plist"));
    koru::platform::SerialQueue queue("test");
    KOLocalLevelwatcher::Services services;
    services.defaults = &defaults;
    services.backgroundQueue = &queue;
    services.docRoot = folder.filePath("web");
    KOLocalLevelwatcher server(services);
    FakeDataSource source;

    // Without a source, every document is "not found".
    EXPECT_EQ(server.handleCall("requestSPLControllerNames", {}), QVariantMap{});
    server.setDataSource(&source);

    struct Case {
        const char* op;
        QVariantMap args;
        std::optional<QByteArray> data; // none: an empty reply
        qint64 error = 0;
    };
    const Case cases[] = {
        {"requestDataDictionaryForSPLInstrument",
         {{"name", "Meter 1"}},
         QByteArray("<root name=\"Meter 1\"><spl unit=\"dB(A)\">73.5</spl></root>")},
        {"requestDataDictionaryForSPLInstrument", {{"name", "Other"}}, std::nullopt},
        {"requestDataDictionaryForSPLInstrument",
         {{"name", 5}},
         std::nullopt,
         koru::link::kErrorBadArguments},
        {"requestDataDictionaryForSPLInstrument", {}, std::nullopt, koru::link::kErrorBadArguments},
        {"requestSPLLogWithAttributes",
         {{"attributes", QVariantMap{{"instrumentName", "M"}, {"start", "3"}}}},
         QByteArray("<log instrumentName=M start=3/>")},
        {"requestSPLLogWithAttributes",
         {{"attributes", QVariantMap{{"start", 3}}}},
         std::nullopt,
         koru::link::kErrorBadArguments},
        {"requestSPLLogWithAttributes",
         {{"attributes", "start=3"}},
         std::nullopt,
         koru::link::kErrorBadArguments},
        {"startRemoteServer", {}, std::nullopt, koru::link::kErrorUnknownOperation},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.op);
        const std::optional<QVariantMap> reply = server.handleCall(c.op, c.args);
        ASSERT_TRUE(reply);
        if (c.error != 0) {
            EXPECT_EQ(LinkError::fromVariant(reply->value("error"))->code, c.error);
        } else if (c.data) {
            EXPECT_EQ(reply->value("data").toByteArray(), *c.data);
        } else {
            EXPECT_TRUE(reply->isEmpty());
        }
    }
    source.throwing = true;
    EXPECT_EQ(server.handleCall("requestDataDictionaryForSPLInstrument", {{"name", "Meter 1"}}),
              QVariantMap{});
}

TEST(KOStatusTransformer, EachStatusHasItsOwnLight) {
    const KOStatusTransformer transformer;
    const auto centre = [&](const QVariant& status) {
        const QImage image = transformer.transformedValue(status).value<QImage>();
        EXPECT_EQ(image.size(), QSize(17, 17));
        return image.pixelColor(9, 9);
    };
    const QColor starting = centre(-1);
    const QColor stopped = centre(0);
    const QColor running = centre(1);
    const QColor none = centre(2);
    EXPECT_GT(starting.red(), starting.blue() + 80); // amber
    EXPECT_GT(starting.green(), starting.blue() + 60);
    EXPECT_GT(stopped.red(), stopped.green() + 80);     // red
    EXPECT_GT(running.green(), running.red() + 80);     // green
    EXPECT_LT(std::abs(none.red() - none.green()), 10); // grey
    EXPECT_LT(std::abs(none.green() - none.blue()), 10);
    EXPECT_EQ(centre(QVariant(qint64(1))), running);
    EXPECT_EQ(centre(-7), none);
    EXPECT_EQ(transformer.transformedValue(1).value<QImage>().pixelColor(0, 0).alpha(), 0);
}

} // namespace
