#include "app/KOPreferences.h"

#include "app/KOGrowlNotificationCenter.h"
#include "platform/defaults/UserDefaults.h"

#include <algorithm>

using koru::platform::UserDefaults;

const QString KOPreferences::kStandardDefaultsKey = QStringLiteral("standardDefaults");
const QString KOPreferences::kLoadLastSessionKey = QStringLiteral("loadLastSession");
const QString KOPreferences::kAutomaticChecksKey = QStringLiteral("SUEnableAutomaticChecks");
const QString KOPreferences::kFrequencyDetailsSizeKey = QStringLiteral("KORU.FrequencyDetailsSize");
const QString KOPreferences::kAutoCloseColorPanelKey = QStringLiteral("AutoCloseColorPanel");
const QString KOPreferences::kAutoCloseColorPanelTimeKey =
    QStringLiteral("AutoCloseColorPanelTime");
const QString KOPreferences::kAlwaysOpenDelayFinderKey = QStringLiteral("AlwaysOpenDelayFinder");
const QString KOPreferences::kShowAllWindowsWhenApplicationBecomesActiveKey =
    QStringLiteral("KORU.General.ShowAllWindowsWhenApplicationBecomesActive");
const QString KOPreferences::kUpdateWorkspaceBeforeRecallKey =
    QStringLiteral("KORU.Workspace.UpdateBeforeRecall");

KOPreferences& KOPreferences::sharedPreferences() {
    // Never destroyed, like the store and the centre it refers to.
    static KOPreferences* const shared = new KOPreferences(
        UserDefaults::standardUserDefaults(), KOGrowlNotificationCenter::sharedGrowlCenter());
    return *shared;
}

KOPreferences::KOPreferences(UserDefaults& defaults, KOGrowlNotificationCenter& notificationCenter)
    : m_defaults(defaults), m_notificationCenter(notificationCenter) {
    if (!m_defaults.boolForKey(kStandardDefaultsKey))
        createStandardDefaults();
    // Also when the user turned closing off: without a delay the setting has lost its meaning.
    if (m_defaults.integerForKey(kAutoCloseColorPanelTimeKey) == 0) {
        setAutoCloseColorPanel(true);
        setAutoCloseColorPanelTime(kStandardAutoCloseColorPanelTime);
    }
}

void KOPreferences::createStandardDefaults() {
    // Every write reaches the file at once, so nothing is left to flush afterwards.
    m_defaults.setBool(kLoadLastSessionKey, true);
    m_defaults.setBool(kStandardDefaultsKey, true);
    m_defaults.setBool(kAutomaticChecksKey, true);
    m_defaults.setInteger(kFrequencyDetailsSizeKey, kStandardFrequencyDetailsSize);
    setAutoCloseColorPanel(true);
    setAutoCloseColorPanelTime(kStandardAutoCloseColorPanelTime);
}

bool KOPreferences::shouldLoadLastSession() const {
    return m_defaults.boolForKey(kLoadLastSessionKey);
}

void KOPreferences::setShouldLoadLastSession(bool load) {
    m_defaults.setBool(kLoadLastSessionKey, load);
}

bool KOPreferences::alwaysOpenDelayFinder() const {
    return m_defaults.boolForKey(kAlwaysOpenDelayFinderKey);
}

void KOPreferences::setAlwaysOpenDelayFinder(bool open) {
    m_defaults.setBool(kAlwaysOpenDelayFinderKey, open);
}

bool KOPreferences::autoCloseColorPanel() const {
    return m_defaults.boolForKey(kAutoCloseColorPanelKey);
}

void KOPreferences::setAutoCloseColorPanel(bool autoClose) {
    m_defaults.setBool(kAutoCloseColorPanelKey, autoClose);
}

qint64 KOPreferences::autoCloseColorPanelTime() const {
    const qint64 stored = m_defaults.integerForKey(kAutoCloseColorPanelTimeKey);
    if (stored == 0)
        return kStandardAutoCloseColorPanelTime;
    // A hand-edited -1 must not close the panel the moment it opens.
    return std::clamp(stored, kMinimumAutoCloseColorPanelTime, kMaximumAutoCloseColorPanelTime);
}

void KOPreferences::setAutoCloseColorPanelTime(qint64 seconds) {
    m_defaults.setInteger(
        kAutoCloseColorPanelTimeKey,
        std::clamp(seconds, kMinimumAutoCloseColorPanelTime, kMaximumAutoCloseColorPanelTime));
}

std::uint32_t KOPreferences::notificationSystem() const {
    return m_notificationCenter.useNativeNotificationSystem() ? kNotificationSystemNative
                                                              : kNotificationSystemGrowl;
}

void KOPreferences::setNotificationSystem(std::uint32_t code) {
    m_notificationCenter.setUseNativeNotificationSystem(code == kNotificationSystemNative);
}

bool KOPreferences::showAllWindowsWhenApplicationBecomesActive() const {
    return m_defaults.boolForKey(kShowAllWindowsWhenApplicationBecomesActiveKey);
}

void KOPreferences::setShowAllWindowsWhenApplicationBecomesActive(bool show) {
    m_defaults.setBool(kShowAllWindowsWhenApplicationBecomesActiveKey, show);
}

bool KOPreferences::updateWorkspaceBeforeRecall() const {
    return m_defaults.boolForKey(kUpdateWorkspaceBeforeRecallKey);
}

void KOPreferences::setUpdateWorkspaceBeforeRecall(bool update) {
    m_defaults.setBool(kUpdateWorkspaceBeforeRecallKey, update);
}
