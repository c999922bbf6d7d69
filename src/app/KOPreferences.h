#pragma once

#include "platform/fourcc/FourCC.h"

#include <QString>

#include <cstdint>

class KOGrowlNotificationCenter;

namespace koru::platform {
class UserDefaults;
}

// The one access point for the shell's own preferences. Keeps no state: every property reads or
// writes the user defaults (or the notification centre) on each call. On the first run it writes
// the standard defaults of the whole program, so it must exist before anything reads a default.
// Main thread.
class KOPreferences {
public:
    static const QString kStandardDefaultsKey;     // "standardDefaults"
    static const QString kLoadLastSessionKey;      // "loadLastSession"
    static const QString kAutomaticChecksKey;      // "SUEnableAutomaticChecks"
    static const QString kFrequencyDetailsSizeKey; // "KORU.FrequencyDetailsSize"
    static const QString kAutoCloseColorPanelKey;
    static const QString kAutoCloseColorPanelTimeKey;
    static const QString kAlwaysOpenDelayFinderKey;
    // No part of the program writes these two but the preferences window.
    static const QString kShowAllWindowsWhenApplicationBecomesActiveKey;
    static const QString kUpdateWorkspaceBeforeRecallKey;

    // Notification systems, the tags of the window's pop-up. Only the desktop's own service
    // exists here; the other code is still accepted from older settings.
    static constexpr std::uint32_t kNotificationSystemGrowl = koru::platform::fourCC("grow");
    static constexpr std::uint32_t kNotificationSystemNative = koru::platform::fourCC("osxn");

    static constexpr qint64 kStandardFrequencyDetailsSize = 12;
    static constexpr qint64 kStandardAutoCloseColorPanelTime = 3;
    static constexpr qint64 kMinimumAutoCloseColorPanelTime = 2;
    static constexpr qint64 kMaximumAutoCloseColorPanelTime = 10;

    // The program's instance on the standard defaults and the shared notification centre,
    // created on the first call.
    static KOPreferences& sharedPreferences();

    // Writes the standard defaults unless they were written before, and restores a sane
    // colour-panel delay when none is stored.
    KOPreferences(koru::platform::UserDefaults& defaults,
                  KOGrowlNotificationCenter& notificationCenter);

    KOPreferences(const KOPreferences&) = delete;
    KOPreferences& operator=(const KOPreferences&) = delete;

    void createStandardDefaults();

    bool shouldLoadLastSession() const;
    void setShouldLoadLastSession(bool load);

    bool alwaysOpenDelayFinder() const;
    void setAlwaysOpenDelayFinder(bool open);

    bool autoCloseColorPanel() const;
    void setAutoCloseColorPanel(bool autoClose);
    // Seconds, always within 2 to 10: nothing stored (or 0) reads 3, and a value edited into the
    // file outside that range reads as its nearest end.
    qint64 autoCloseColorPanelTime() const;
    // Clamps into 2 to 10 rather than refusing.
    void setAutoCloseColorPanelTime(qint64 seconds);

    std::uint32_t notificationSystem() const;
    void setNotificationSystem(std::uint32_t code);

    bool showAllWindowsWhenApplicationBecomesActive() const;
    void setShowAllWindowsWhenApplicationBecomesActive(bool show);
    bool updateWorkspaceBeforeRecall() const;
    void setUpdateWorkspaceBeforeRecall(bool update);

    // Sessions are always kept per input device.
    bool doDeviceDependentSavingAndLoading() const { return true; }

private:
    koru::platform::UserDefaults& m_defaults;
    KOGrowlNotificationCenter& m_notificationCenter;
};
