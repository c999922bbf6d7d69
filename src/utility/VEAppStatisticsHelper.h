#pragma once

#include <QObject>
#include <QVariantList>

#include <functional>
#include <optional>

namespace koru::platform {
class UserDefaults;
}

// Keeps two anonymous figures in the user defaults: an installation identifier made once, and
// the total time the program was the active application. Nothing is sent anywhere; the figures
// are only assembled on request. Main thread.
class VEAppStatisticsHelper : public QObject {
    Q_OBJECT
public:
    static constexpr const char* kTimeKey = "appstatistics.time";
    static constexpr const char* kUuidKey = "appstatistics.uuid";

    // Seconds on any steady scale.
    using Clock = std::function<double()>;

    static VEAppStatisticsHelper& sharedHelper();

    VEAppStatisticsHelper(koru::platform::UserDefaults& defaults, Clock clock);

    // Starts timing and follows the application's activation and termination.
    void start();
    // Both are idempotent: a second stop (say on deactivation, then on quit) adds nothing more.
    void startUsage();
    void stopUsage();
    bool isUsageRunning() const { return m_running; }

    // `keys` (or nothing) followed by the identifier entry and the usage-time entry, whole
    // seconds with the running stretch included.
    QVariantList updaterKeysCombinedWithKeys(const std::optional<QVariantList>& keys);
    void resetTime();

private:
    void applicationStateChanged(Qt::ApplicationState state);

    koru::platform::UserDefaults& m_defaults;
    Clock m_clock;
    double m_usageStartTime = 0.0;
    bool m_running = false;
};
