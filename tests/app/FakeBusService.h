#pragma once

#include "PrivateSessionBus.h"

#include <QDBusConnection>
#include <QString>
#include <QThread>
#include <QVariantList>

#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

namespace koru::test {

// A service on a private bus, answering on a thread of its own as another process would: owns
// a well-known name, records every method call on one object path and answers through a
// responder (no answer: an error reply). Signals may be sent from any thread.
class FakeBusService {
public:
    struct Call {
        QString member;
        QVariantList arguments; // as they arrived (containers stay QDBusArgument)
    };
    using Responder = std::function<std::optional<QVariantList>(const QDBusMessage& message)>;

    FakeBusService(PrivateSessionBus& bus, QString service, QString path, QString interface,
                   Responder responder);
    ~FakeBusService(); // gives up the name

    FakeBusService(const FakeBusService&) = delete;
    FakeBusService& operator=(const FakeBusService&) = delete;

    bool registered() const { return m_registered; }
    std::vector<Call> calls(const QString& member) const;
    void emitSignal(const QString& name, const QVariantList& arguments);
    // Returns once the service has handled every call `client` sent before this one.
    void sync(QDBusConnection& client);

    struct State {
        std::mutex mutex; // guards calls only
        std::vector<Call> calls;
        Responder responder;
    };

private:
    QString m_service;
    QString m_path;
    QString m_interface;
    QDBusConnection m_connection;
    std::shared_ptr<State> m_state;
    QThread m_thread;
    bool m_registered = false;
};

} // namespace koru::test
