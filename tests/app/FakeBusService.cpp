#include "FakeBusService.h"

#include <QDBusMessage>
#include <QDBusVirtualObject>

#include <utility>

namespace koru::test {

namespace {

const QString kSyncMember = QStringLiteral("KoruTestSync");
constexpr int kSyncTimeoutMs = 5000;

class RecordingObject : public QDBusVirtualObject {
public:
    explicit RecordingObject(std::shared_ptr<FakeBusService::State> state)
        : m_state(std::move(state)) {}

    QString introspect(const QString&) const override { return {}; }

    bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override {
        if (message.type() != QDBusMessage::MethodCallMessage)
            return false;
        if (message.member() == kSyncMember) {
            connection.send(message.createReply());
            return true;
        }
        {
            std::lock_guard lock(m_state->mutex);
            m_state->calls.push_back({message.member(), message.arguments()});
        }
        const std::optional<QVariantList> reply = m_state->responder(message);
        if (reply)
            connection.send(message.createReply(*reply));
        else
            connection.send(message.createErrorReply(QDBusError::UnknownMethod,
                                                     QStringLiteral("not answered by the fake")));
        return true;
    }

private:
    std::shared_ptr<FakeBusService::State> m_state;
};

} // namespace

FakeBusService::FakeBusService(PrivateSessionBus& bus, QString service, QString path,
                               QString interface, Responder responder)
    : m_service(std::move(service)), m_path(std::move(path)), m_interface(std::move(interface)),
      m_connection(bus.connect(QStringLiteral("service"))), m_state(std::make_shared<State>()) {
    m_state->responder = std::move(responder);
    // Everything the service thread reads is in place before the thread starts, and the object
    // dies on that thread as it finishes: the thread start and the shared state's count are the
    // hand-overs the thread checker can see, the bus library's own locks are not.
    auto* object = new RecordingObject(m_state);
    object->moveToThread(&m_thread);
    QObject::connect(&m_thread, &QThread::finished, object, &QObject::deleteLater);
    m_thread.start();
    m_registered =
        m_connection.registerVirtualObject(m_path, object, QDBusConnection::SingleNode) &&
        m_connection.registerService(m_service);
}

FakeBusService::~FakeBusService() {
    m_connection.unregisterService(m_service);
    m_connection.unregisterObject(m_path);
    m_thread.quit();
    m_thread.wait();
}

std::vector<FakeBusService::Call> FakeBusService::calls(const QString& member) const {
    std::lock_guard lock(m_state->mutex);
    std::vector<Call> matching;
    for (const Call& call : m_state->calls)
        if (call.member == member)
            matching.push_back(call);
    return matching;
}

void FakeBusService::emitSignal(const QString& name, const QVariantList& arguments) {
    QDBusMessage signal = QDBusMessage::createSignal(m_path, m_interface, name);
    signal.setArguments(arguments);
    m_connection.send(signal);
}

void FakeBusService::sync(QDBusConnection& client) {
    const QDBusMessage call =
        QDBusMessage::createMethodCall(m_service, m_path, m_interface, kSyncMember);
    client.call(call, QDBus::Block, kSyncTimeoutMs);
}

} // namespace koru::test
