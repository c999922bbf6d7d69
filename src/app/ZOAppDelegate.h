#pragma once

#include <QDBusConnection>

#include <memory>

namespace koru {
class UiPrompter;
namespace platform {
class IdleInhibitor;
class UserDefaults;
} // namespace platform
} // namespace koru

// Base of the application controller: the licence gate it passes before it may exist, and
// keeping the machine awake while KORU measures.
class ZOAppDelegate {
public:
    // Asked by main() before anything else of the program exists, so that a user who declines
    // leaves nothing behind: false means quit now. The standard defaults and the program's
    // prompter; the second form names both.
    static bool settleLicenceAgreement();
    static bool settleLicenceAgreement(koru::platform::UserDefaults& defaults,
                                       koru::UiPrompter& prompter);

    explicit ZOAppDelegate(QDBusConnection bus = QDBusConnection::sessionBus());
    virtual ~ZOAppDelegate();

    ZOAppDelegate(const ZOAppDelegate&) = delete;
    ZOAppDelegate& operator=(const ZOAppDelegate&) = delete;

    // Keeps the machine out of idle sleep from the first call until the delegate goes away. The
    // autosave calls it every 55 s; one inhibition covers them all. Without a session bus only a
    // log line says so.
    void keepSystemAlive();

private:
    QDBusConnection m_bus;
    std::unique_ptr<koru::platform::IdleInhibitor> m_idleInhibitor;
};
