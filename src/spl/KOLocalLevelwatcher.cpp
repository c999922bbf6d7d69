#include "spl/KOLocalLevelwatcher.h"

#include "platform/defaults/UserDefaults.h"
#include "platform/desktop/MainThread.h"
#include "platform/dispatch/KOBackgroundQueue.h"
#include "platform/dispatch/SerialQueue.h"
#include "platform/link/LevelwatcherProtocol.h"
#include "platform/log/Log.h"
#include "platform/paths/Paths.h"

#include <QCoreApplication>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QMetaObject>
#include <QThread>

#include <cerrno>

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <netinet/in.h>
#include <sys/wait.h>

using koru::link::CallResult;
using koru::link::LinkConnection;
using koru::link::LinkError;

namespace {

QString key(const char* text) {
    return QString::fromLatin1(text);
}

LinkError makeError(qint64 code, const QString& message) {
    return LinkError{key(koru::link::kErrorDomain), code, message};
}

// Runs `block` on the object's thread unless the object has gone meanwhile.
void onMainThread(QObject* object, const std::shared_ptr<std::atomic<bool>>& alive,
                  std::function<void()> block) {
    koru::platform::postToMainThread(object, [alive, block = std::move(block)] {
        if (alive->load())
            block();
    });
}

} // namespace

KOLocalLevelwatcher& KOLocalLevelwatcher::sharedServer() {
    static auto* const server = [] {
        Services services;
        services.defaults = &koru::platform::UserDefaults::standardUserDefaults();
        services.backgroundQueue = KOBackgroundQueue();
        return new KOLocalLevelwatcher(std::move(services));
    }();
    return *server;
}

KOLocalLevelwatcher::KOLocalLevelwatcher(Services services) : m(std::move(services)) {
    if (!m.defaults)
        m.defaults = &koru::platform::UserDefaults::standardUserDefaults();
    if (!m.backgroundQueue)
        m.backgroundQueue = KOBackgroundQueue();
    if (!m.clock)
        m.clock = &koru::platform::TimerClock::steady();
    if (!m.hostAddresses)
        m.hostAddresses = &KOLocalLevelwatcher::machineIPv4Addresses;
    QString folder = m.docRoot;
    if (folder.isEmpty())
        folder = QDir(koru::platform::applicationSupportDirectory()).filePath(key(kWebFolderName));
    prepareWebFolder(folder);
    mDocRoot = folder;
    mPort = storedPort(*m.defaults);
    // The service starts with the first start; until then there is nothing to talk to.
    mStatus = Stopped;
}

KOLocalLevelwatcher::~KOLocalLevelwatcher() {
    mAlive->store(false);
    m.backgroundQueue->waitUntilIdle();
    std::shared_ptr<LinkConnection> link;
    {
        std::lock_guard lock(mMutex);
        link = std::move(mLink);
    }
    link.reset(); // closes: the service sees end of file and quits
    reap();
}

qint64 KOLocalLevelwatcher::storedPort(const koru::platform::UserDefaults& defaults) {
    const qint64 port = defaults.integerForKey(key(kPortDefault));
    return port == 0 ? koru::link::kBuiltInPortRequest : port;
}

QString KOLocalLevelwatcher::docRoot() const {
    std::lock_guard lock(mMutex);
    return mDocRoot;
}

void KOLocalLevelwatcher::setDocRoot(const QString& path) {
    std::lock_guard lock(mMutex);
    mDocRoot = path;
}

void KOLocalLevelwatcher::setDataSource(KOLevelwatcherLocalDataSource* source) {
    mDataSource.store(source);
}

namespace {
std::atomic<KOLevelwatcherLocalDataSource*> gSharedDataSource{nullptr};
}

void KOLocalLevelwatcher::setSharedDataSource(KOLevelwatcherLocalDataSource* source) {
    gSharedDataSource.store(source);
}

QString KOLocalLevelwatcher::serviceProgram() {
    const QString overridden = qEnvironmentVariable(koru::link::kProgramVariable);
    if (!overridden.isEmpty())
        return overridden;
    return QDir(QCoreApplication::applicationDirPath()).filePath(QStringLiteral("levelwatch"));
}

bool KOLocalLevelwatcher::prepareWebFolder(const QString& path) {
    const QFileInfo info(path);
    if (!info.exists() && !info.isSymLink()) {
        // Seeded once; whatever the user changes there afterwards is theirs.
        QDirIterator it(key(kResourceFolder), QDir::Files, QDirIterator::Subdirectories);
        while (it.hasNext()) {
            const QString source = it.next();
            const QString relative = source.mid(qsizetype(std::strlen(kResourceFolder)) + 1);
            const QString target = QDir(path).filePath(relative);
            QDir().mkpath(QFileInfo(target).absolutePath());
            if (!QFile::copy(source, target))
                koru::log::warn("web folder: could not copy {}", target.toStdString());
            else
                QFile::setPermissions(target, QFile::ReadOwner | QFile::WriteOwner |
                                                  QFile::ReadGroup | QFile::ReadOther);
        }
        QDir().mkpath(path);
    }
    return QFileInfo(path).isDir();
}

QStringList KOLocalLevelwatcher::machineIPv4Addresses() {
    QStringList addresses;
    ifaddrs* list = nullptr;
    if (::getifaddrs(&list) != 0)
        return addresses;
    for (const ifaddrs* entry = list; entry; entry = entry->ifa_next) {
        if (!entry->ifa_addr || entry->ifa_addr->sa_family != AF_INET)
            continue;
        char text[INET_ADDRSTRLEN] = {};
        const auto* address = reinterpret_cast<const sockaddr_in*>(entry->ifa_addr);
        if (::inet_ntop(AF_INET, &address->sin_addr, text, sizeof text))
            addresses << QString::fromLatin1(text);
    }
    ::freeifaddrs(list);
    return addresses;
}

std::optional<QString> KOLocalLevelwatcher::addressStringFor(const QStringList& addresses,
                                                             qint64 port) {
    for (const QString& address : addresses) {
        if (address.startsWith(QLatin1String("127")) || address.split(QLatin1Char('.')).size() != 4)
            continue;
        return QStringLiteral("http://%1:%2").arg(address).arg(port);
    }
    koru::log::info("could not find an IPv4Address");
    return std::nullopt;
}

void KOLocalLevelwatcher::setStatus(int status) {
    if (mStatus == status)
        return;
    mStatus = status;
    emit statusChanged(status);
}

void KOLocalLevelwatcher::setIsRunning(bool running) {
    if (mIsRunning == running)
        return;
    mIsRunning = running;
    emit isRunningChanged(running);
}

void KOLocalLevelwatcher::setAddressString(const QString& address) {
    if (mAddressString == address)
        return;
    mAddressString = address;
    emit addressStringChanged(address);
}

void KOLocalLevelwatcher::reap() {
    pid_t child = -1;
    {
        std::lock_guard lock(mMutex);
        std::swap(child, mChild);
    }
    // The service quits when its link closes, which the caller has done.
    if (child > 0) {
        while (::waitpid(child, nullptr, 0) < 0 && errno == EINTR) {
        }
    }
}

std::shared_ptr<LinkConnection> KOLocalLevelwatcher::ensureLink(QString* error) {
    {
        std::lock_guard lock(mMutex);
        if (mLink && mLink->isOpen())
            return mLink;
    }
    std::shared_ptr<LinkConnection> old;
    {
        std::lock_guard lock(mMutex);
        old = std::move(mLink);
    }
    old.reset();
    reap();

    const QString program = m.program.isEmpty() ? serviceProgram() : m.program;
    const koru::link::SpawnedService spawned = koru::link::spawnService(program);
    if (!spawned.ok()) {
        *error = spawned.error;
        return nullptr;
    }
    auto link = std::make_shared<LinkConnection>(
        spawned.fd,
        [this](const QString& op, const QVariantMap& args) { return handleCall(op, args); },
        [this, alive = mAlive] { onMainThread(this, alive, [this] { linkClosed(); }); },
        m.callTimeout, *m.clock);
    {
        std::lock_guard lock(mMutex);
        mLink = link;
        mChild = spawned.pid;
    }
    link->start();
    koru::log::info("started {} (pid {})", program.toStdString(), spawned.pid);
    return link;
}

void KOLocalLevelwatcher::linkClosed() {
    koru::log::warn("the link to levelwatch closed");
    setIsRunning(false);
    setStatus(Stopped);
    setAddressString(QString());
}

void KOLocalLevelwatcher::start(Completion completion) {
    setStatus(Starting);
    mIsStarting = true;
    const qint64 port = mPort;
    const QString folder = docRoot();
    // Masking would turn nonsense into some port (70000 into 4464, -1 into "any"); only the
    // built-in request keeps its historical form.
    if (port != koru::link::kBuiltInPortRequest && (port < 1 || port > 65535)) {
        const LinkError error =
            makeError(koru::link::kErrorInvalidPort,
                      QStringLiteral("The port %1 is not between 1 and 65535.").arg(port));
        onMainThread(this, mAlive, [this, port, error, completion] {
            finishStart(false, port, error, completion);
        });
        return;
    }
    m.backgroundQueue->async([this, alive = mAlive, port, folder, completion] {
        if (!alive->load())
            return;
        const QString canonical = QFileInfo(folder).canonicalFilePath();
        if (canonical.isEmpty() || !QFileInfo(canonical).isDir()) {
            const LinkError error =
                makeError(koru::link::kErrorNoFolder,
                          QStringLiteral("%1 does not exist or is not a directoy").arg(folder));
            onMainThread(this, alive, [this, port, error, completion] {
                finishStart(false, port, error, completion);
            });
            return;
        }
        QString why;
        const std::shared_ptr<LinkConnection> link = ensureLink(&why);
        if (!link) {
            koru::log::error("levelwatch could not be started: {}", why.toStdString());
            const LinkError error = makeError(koru::link::kErrorServiceUnavailable, why);
            onMainThread(this, alive, [this, port, error, completion] {
                finishStart(false, port, error, completion);
            });
            return;
        }
        link->call(
            key(koru::link::kOpStartRemoteServer),
            {{key(koru::link::kPortKey), port}, {key(koru::link::kDocRootKey), canonical.toUtf8()}},
            [this, alive, port, completion](CallResult result) {
                bool ok = false;
                qint64 reported = port;
                std::optional<LinkError> error = result.error;
                if (result.ok()) {
                    ok = result.reply.value(key(koru::link::kOkKey)).toBool();
                    const QVariant value = result.reply.value(key(koru::link::kPortKey));
                    if (value.isValid())
                        reported = value.toLongLong();
                    error = LinkError::fromVariant(result.reply.value(key(koru::link::kErrorKey)));
                    if (!ok && !error)
                        error = makeError(koru::link::kErrorListenFailed,
                                          QStringLiteral("The server did not start."));
                }
                onMainThread(this, alive, [this, ok, reported, error, completion] {
                    finishStart(ok, reported, error, completion);
                });
            });
    });
}

void KOLocalLevelwatcher::finishStart(bool ok, qint64 port, std::optional<LinkError> error,
                                      const Completion& completion) {
    if (ok)
        mPort = port;
    setIsRunning(ok);
    setStatus(ok ? Running : Stopped);
    if (ok)
        m.defaults->setInteger(key(kPortDefault), port);
    mIsStarting = false;
    if (!ok && error)
        koru::log::warn("levelwatch did not start: {}", error->message.toStdString());
    if (completion)
        completion(ok, error);
    if (!ok)
        return;
    m.backgroundQueue->async([this, alive = mAlive, port] {
        if (!alive->load())
            return;
        const std::optional<QString> address = addressStringFor(m.hostAddresses(), port);
        onMainThread(this, alive,
                     [this, address] { setAddressString(address.value_or(QString())); });
    });
}

void KOLocalLevelwatcher::stop() {
    std::shared_ptr<LinkConnection> link;
    {
        std::lock_guard lock(mMutex);
        link = mLink;
    }
    if (link)
        link->send(key(koru::link::kOpStopRemoteServer), {});
    setIsRunning(false);
    setStatus(Stopped);
    setAddressString(QString());
}

std::optional<QVariantMap> KOLocalLevelwatcher::handleCall(const QString& op,
                                                           const QVariantMap& args) {
    using namespace koru::link;
    KOLevelwatcherLocalDataSource* source = mDataSource.load();
    if (!source)
        source = gSharedDataSource.load();
    const auto reply = [](const std::optional<QByteArray>& document) {
        if (!document || document->isEmpty())
            return QVariantMap{};
        return QVariantMap{{key(kDataKey), *document}};
    };
    // A builder's failure is logged once per kind of request, then only answered "not found".
    static std::atomic<bool> meterFailureLogged{false};
    static std::atomic<bool> listFailureLogged{false};
    try {
        if (op == QLatin1String(kOpMeterDocument)) {
            const QVariant name = args.value(key(kNameKey));
            if (name.typeId() != QMetaType::QString)
                return LinkConnection::errorReply(kErrorBadArguments,
                                                  QStringLiteral("name is not a string"));
            try {
                return reply(source ? source->splDataDictionaryFromInstrument(name.toString())
                                    : std::nullopt);
            } catch (const std::exception& error) {
                if (!meterFailureLogged.exchange(true))
                    koru::log::info("{}", error.what());
                return QVariantMap{};
            }
        }
        if (op == QLatin1String(kOpMeterList)) {
            try {
                return reply(source ? source->splControllers() : std::nullopt);
            } catch (const std::exception& error) {
                if (!listFailureLogged.exchange(true))
                    koru::log::info("{}", error.what());
                return QVariantMap{};
            }
        }
        if (op == QLatin1String(kOpLogDocument)) {
            const QVariant attributes = args.value(key(kAttributesKey));
            if (attributes.typeId() != QMetaType::QVariantMap)
                return LinkConnection::errorReply(
                    kErrorBadArguments, QStringLiteral("attributes are not a dictionary"));
            QMap<QString, QString> parameters;
            const QVariantMap map = attributes.toMap();
            for (auto it = map.begin(); it != map.end(); ++it) {
                if (it.value().typeId() != QMetaType::QString)
                    return LinkConnection::errorReply(
                        kErrorBadArguments,
                        QStringLiteral("attribute %1 is not a string").arg(it.key()));
                parameters.insert(it.key(), it.value().toString());
            }
            try {
                return reply(source ? source->splLogDataWithParameters(parameters) : std::nullopt);
            } catch (const std::exception&) {
                return QVariantMap{};
            }
        }
    } catch (const std::exception& error) {
        return LinkConnection::errorReply(kErrorBadArguments, QString::fromUtf8(error.what()));
    }
    return LinkConnection::errorReply(kErrorUnknownOperation,
                                      QStringLiteral("unknown operation %1").arg(op));
}
