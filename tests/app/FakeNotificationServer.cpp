#include "FakeNotificationServer.h"

#include <QDBusArgument>
#include <QDBusMessage>
#include <QDBusMetaType>

namespace koru::test {

namespace {

const QString kInterface = QStringLiteral("org.freedesktop.Notifications");
constexpr uint kClosedByUser = 2;
constexpr uint kClosedByCall = 3;

} // namespace

FakeNotificationServer::FakeNotificationServer(PrivateSessionBus& bus)
    : m_service(bus, kInterface, QStringLiteral("/org/freedesktop/Notifications"), kInterface,
                [this](const QDBusMessage& message) { return answer(message); }) {}

std::optional<QVariantList> FakeNotificationServer::answer(const QDBusMessage& message) {
    const QVariantList args = message.arguments();
    if (message.member() == QLatin1String("Notify") && args.size() == 8) {
        Shown shown;
        shown.appName = args[0].toString();
        shown.replacesId = args[1].toUInt();
        shown.summary = args[3].toString();
        shown.body = args[4].toString();
        shown.actions = args[5].toStringList();
        shown.hints = qdbus_cast<QVariantMap>(args[6]);
        shown.expireTimeout = args[7].toInt();
        std::lock_guard lock(m_mutex);
        shown.id = shown.replacesId != 0 ? shown.replacesId : m_nextId++;
        m_shown.push_back(shown);
        return QVariantList{QVariant::fromValue(shown.id)};
    }
    if (message.member() == QLatin1String("CloseNotification") && args.size() == 1) {
        const uint id = args[0].toUInt();
        {
            std::lock_guard lock(m_mutex);
            m_closed.push_back(id);
        }
        m_service.emitSignal(QStringLiteral("NotificationClosed"),
                             {QVariant::fromValue(id), QVariant::fromValue(kClosedByCall)});
        return QVariantList{};
    }
    if (message.member() == QLatin1String("GetCapabilities"))
        return QVariantList{QStringList{QStringLiteral("actions"), QStringLiteral("body")}};
    return std::nullopt;
}

std::vector<FakeNotificationServer::Shown> FakeNotificationServer::shown() const {
    std::lock_guard lock(m_mutex);
    return m_shown;
}

std::vector<uint> FakeNotificationServer::closed() const {
    std::lock_guard lock(m_mutex);
    return m_closed;
}

void FakeNotificationServer::click(uint id, const QString& actionKey) {
    m_service.emitSignal(QStringLiteral("ActionInvoked"), {QVariant::fromValue(id), actionKey});
}

void FakeNotificationServer::dismiss(uint id) {
    m_service.emitSignal(QStringLiteral("NotificationClosed"),
                         {QVariant::fromValue(id), QVariant::fromValue(kClosedByUser)});
}

} // namespace koru::test
