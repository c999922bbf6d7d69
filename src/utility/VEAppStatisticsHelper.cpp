#include "utility/VEAppStatisticsHelper.h"

#include "utility/VEString.h"

#include "platform/defaults/UserDefaults.h"

#include <QCoreApplication>
#include <QGuiApplication>

#include <chrono>
#include <cmath>

using koru::platform::UserDefaults;

namespace {

double steadySeconds() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

QVariantMap parameter(const QString& key, const QVariant& value, const QString& displayKey) {
    // "dsiplay" is spelled so in the request format.
    return {{QStringLiteral("key"), key},
            {QStringLiteral("value"), value},
            {QStringLiteral("dsiplayKey"), displayKey},
            {QStringLiteral("dsiplayValue"), value}};
}

} // namespace

VEAppStatisticsHelper& VEAppStatisticsHelper::sharedHelper() {
    // Lives as long as the process.
    static auto* shared =
        new VEAppStatisticsHelper(UserDefaults::standardUserDefaults(), steadySeconds);
    return *shared;
}

VEAppStatisticsHelper::VEAppStatisticsHelper(UserDefaults& defaults, Clock clock)
    : m_defaults(defaults), m_clock(std::move(clock)) {
    m_defaults.registerDefaults({{QString::fromLatin1(kTimeKey), 0.0}});
    if (m_defaults.stringForKey(QString::fromLatin1(kUuidKey)).isEmpty())
        m_defaults.setString(QString::fromLatin1(kUuidKey), VEString::uuidString());
}

void VEAppStatisticsHelper::start() {
    startUsage();
    if (auto* app = qobject_cast<QGuiApplication*>(QCoreApplication::instance())) {
        connect(app, &QGuiApplication::applicationStateChanged, this,
                &VEAppStatisticsHelper::applicationStateChanged);
    }
    if (auto* app = QCoreApplication::instance())
        connect(app, &QCoreApplication::aboutToQuit, this, &VEAppStatisticsHelper::stopUsage);
}

void VEAppStatisticsHelper::applicationStateChanged(Qt::ApplicationState state) {
    if (state == Qt::ApplicationActive)
        startUsage();
    else
        stopUsage();
}

void VEAppStatisticsHelper::startUsage() {
    if (m_running)
        return;
    m_usageStartTime = m_clock();
    m_running = true;
}

void VEAppStatisticsHelper::stopUsage() {
    if (!m_running)
        return;
    m_running = false;
    const double elapsed = std::max(0.0, m_clock() - m_usageStartTime);
    const double total = m_defaults.doubleForKey(QString::fromLatin1(kTimeKey));
    m_defaults.setDouble(QString::fromLatin1(kTimeKey), total + elapsed);
}

QVariantList
VEAppStatisticsHelper::updaterKeysCombinedWithKeys(const std::optional<QVariantList>& keys) {
    QVariantList result = keys.value_or(QVariantList{});
    const QString uuid = m_defaults.stringForKey(QString::fromLatin1(kUuidKey));
    result.append(parameter(QStringLiteral("uuid"), uuid, QStringLiteral("uuid")));

    const bool wasRunning = m_running;
    stopUsage();
    const auto seconds =
        qint64(std::lround(m_defaults.doubleForKey(QString::fromLatin1(kTimeKey))));
    if (wasRunning)
        startUsage();
    result.append(
        parameter(QStringLiteral("ve_usage_time"), seconds, QStringLiteral("usage time")));
    return result;
}

void VEAppStatisticsHelper::resetTime() {
    m_defaults.setDouble(QString::fromLatin1(kTimeKey), 0.0);
    m_running = false;
    startUsage();
}
