#include "support/TestSupport.h"

#include "app/KOGrowlNotificationCenter.h"
#include "app/KOPreferences.h"
#include "app/PreferencesTestSupport.h"
#include "platform/defaults/UserDefaults.h"
#include "platform/desktop/NotificationSink.h"

#include <QFile>

#include <gtest/gtest.h>

#include <atomic>
#include <limits>
#include <memory>
#include <vector>

using koru::platform::UserDefaults;
using koru::test::DiscardingSink;
using koru::test::freshDefaultsPath;

namespace {

// One start of the program on a defaults file: the store as read at start, the notification
// centre and the preferences, created in the program's order.
struct Start {
    explicit Start(const QString& path)
        : defaults(path), centre(std::make_unique<DiscardingSink>(), defaults),
          preferences(defaults, centre) {}

    UserDefaults defaults;
    KOGrowlNotificationCenter centre;
    KOPreferences preferences;
};

// What the next start finds in the file.
UserDefaults onDisk(const QString& path) {
    return UserDefaults(path);
}

TEST(KOPreferences, FirstStartWritesTheStandardDefaultsToTheFile) {
    for (const char* locale : {"C", "de_DE.UTF-8"}) {
        SCOPED_TRACE(locale);
        koru::test::ScopedLocale scoped(locale);
        if (!scoped.active())
            GTEST_SKIP() << locale << " is not installed";
        const QString path = freshDefaultsPath(QStringLiteral("preferences"));
        ASSERT_FALSE(QFile::exists(path));
        { Start first(path); }

        const UserDefaults file = onDisk(path);
        EXPECT_TRUE(file.lastError().isEmpty()) << file.lastError().toStdString();
        EXPECT_EQ(file.objectForKey("standardDefaults"), QVariant(true));
        EXPECT_EQ(file.objectForKey("loadLastSession"), QVariant(true));
        EXPECT_EQ(file.objectForKey("SUEnableAutomaticChecks"), QVariant(true));
        EXPECT_EQ(file.integerForKey("KORU.FrequencyDetailsSize"), 12);
        EXPECT_EQ(file.objectForKey("AutoCloseColorPanel"), QVariant(true));
        EXPECT_EQ(file.integerForKey("AutoCloseColorPanelTime"), 3);
        // Neither written nor invented: it reads NO until the user turns it on.
        EXPECT_FALSE(file.objectForKey("AlwaysOpenDelayFinder").isValid());

        UserDefaults reread(path);
        KOGrowlNotificationCenter centre(std::make_unique<DiscardingSink>(), reread);
        const KOPreferences preferences(reread, centre);
        EXPECT_TRUE(preferences.shouldLoadLastSession());
        EXPECT_FALSE(preferences.alwaysOpenDelayFinder());
        EXPECT_TRUE(preferences.autoCloseColorPanel());
        EXPECT_EQ(preferences.autoCloseColorPanelTime(), 3);
    }
}

// The program's instance works on the standard store: whatever reads a default after it exists
// finds the standard ones, also on a first run.
TEST(KOPreferences, TheProgramsInstanceWritesTheStandardStore) {
    KOPreferences& shared = KOPreferences::sharedPreferences();
    EXPECT_EQ(&shared, &KOPreferences::sharedPreferences());

    const UserDefaults& standard = UserDefaults::standardUserDefaults();
    EXPECT_EQ(standard.integerForKey("KORU.FrequencyDetailsSize"), 12);
    const UserDefaults file = onDisk(standard.path());
    EXPECT_TRUE(file.boolForKey("standardDefaults"));
    EXPECT_EQ(file.integerForKey("KORU.FrequencyDetailsSize"), 12);
    EXPECT_TRUE(file.boolForKey("loadLastSession"));
}

TEST(KOPreferences, TheUsersChoicesSurviveLaterStarts) {
    const QString path = freshDefaultsPath(QStringLiteral("preferences"));
    {
        Start first(path);
        first.preferences.setShouldLoadLastSession(false);
        first.preferences.setAlwaysOpenDelayFinder(true);
        first.preferences.setAutoCloseColorPanel(false);
        first.preferences.setAutoCloseColorPanelTime(7);
        first.preferences.setShowAllWindowsWhenApplicationBecomesActive(true);
        first.preferences.setUpdateWorkspaceBeforeRecall(true);
        first.defaults.setInteger("KORU.FrequencyDetailsSize", 0); // "Hidden" in the menu
    }
    for (int start = 0; start < 2; ++start) {
        SCOPED_TRACE(start);
        Start later(path);
        EXPECT_FALSE(later.preferences.shouldLoadLastSession());
        EXPECT_TRUE(later.preferences.alwaysOpenDelayFinder());
        EXPECT_FALSE(later.preferences.autoCloseColorPanel());
        EXPECT_EQ(later.preferences.autoCloseColorPanelTime(), 7);
        EXPECT_TRUE(later.preferences.showAllWindowsWhenApplicationBecomesActive());
        EXPECT_TRUE(later.preferences.updateWorkspaceBeforeRecall());
        EXPECT_EQ(later.defaults.integerForKey("KORU.FrequencyDetailsSize"), 0);
    }
}

TEST(KOPreferences, StandardDefaultsAreWrittenAgainWhileTheirMarkIsOff) {
    const QString path = freshDefaultsPath(QStringLiteral("preferences"));
    {
        Start first(path);
        first.preferences.setShouldLoadLastSession(false);
        first.defaults.setBool("standardDefaults", false);
    }
    Start next(path);
    EXPECT_TRUE(next.preferences.shouldLoadLastSession());
    EXPECT_TRUE(onDisk(path).boolForKey("standardDefaults"));
}

TEST(KOPreferences, SettingTheColourPanelDelayClampsIt) {
    constexpr qint64 lowest = std::numeric_limits<qint64>::min();
    constexpr qint64 highest = std::numeric_limits<qint64>::max();
    struct Case {
        qint64 set;
        qint64 stored;
    };
    const std::vector<Case> cases = {{1, 2}, {11, 10}, {7, 7},      {2, 2},       {10, 10},
                                     {0, 2}, {-5, 2},  {lowest, 2}, {highest, 10}};
    const QString path = freshDefaultsPath(QStringLiteral("preferences"));
    Start start(path);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.set);
        start.preferences.setAutoCloseColorPanelTime(c.set);
        EXPECT_EQ(onDisk(path).integerForKey("AutoCloseColorPanelTime"), c.stored);
        EXPECT_EQ(start.preferences.autoCloseColorPanelTime(), c.stored);
    }
}

TEST(KOPreferences, ReadingTheColourPanelDelayKeepsItWithinRange) {
    struct Case {
        const char* what;
        QVariant stored; // invalid: removed from the file
        qint64 reads;
    };
    const std::vector<Case> cases = {
        {"removed", QVariant(), 3},
        {"zero", QVariant(0), 3},
        {"in range", QVariant(4), 4},
        {"edited to 1", QVariant(1), 2},
        {"edited to 50", QVariant(50), 10},
        {"edited to -1", QVariant(-1), 2},
        {"a number as text", QVariant(QStringLiteral("7")), 7},
        {"not a number", QVariant(QStringLiteral("soon")), 3},
        {"a real", QVariant(4.6), 4},
    };
    const QString path = freshDefaultsPath(QStringLiteral("preferences"));
    Start start(path);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        start.defaults.setObject("AutoCloseColorPanelTime", c.stored);
        EXPECT_EQ(start.preferences.autoCloseColorPanelTime(), c.reads);
    }
}

// Without a usable delay the next start turns closing back on with 3 s, even when the user had
// turned it off; a usable delay leaves both alone.
TEST(KOPreferences, StartRestoresTheColourPanelDelayWhenNoneIsStored) {
    struct Case {
        const char* what;
        QVariant stored;
        bool autoCloseAfter;
        qint64 storedAfter;
    };
    const std::vector<Case> cases = {
        {"removed by hand", QVariant(), true, 3},
        {"zero", QVariant(0), true, 3},
        {"not a number", QVariant(QStringLiteral("soon")), true, 3},
        {"kept", QVariant(5), false, 5},
        {"edited out of range", QVariant(-1), false, -1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const QString path = freshDefaultsPath(QStringLiteral("preferences"));
        {
            Start first(path);
            first.preferences.setAutoCloseColorPanel(false);
            first.defaults.setObject("AutoCloseColorPanelTime", c.stored);
        }
        { Start next(path); }
        const UserDefaults file = onDisk(path);
        EXPECT_EQ(file.boolForKey("AutoCloseColorPanel"), c.autoCloseAfter);
        EXPECT_EQ(file.integerForKey("AutoCloseColorPanelTime"), c.storedAfter);
    }
}

// The choice is only remembered: notifications always go to the desktop's service.
TEST(KOPreferences, NotificationSystemChoiceIsStoredButAlwaysTheDesktops) {
    struct Case {
        std::uint32_t chosen;
        bool stored;
    };
    const std::vector<Case> cases = {{KOPreferences::kNotificationSystemGrowl, false},
                                     {KOPreferences::kNotificationSystemNative, true},
                                     {0, false},
                                     {KOPreferences::kNotificationSystemNative, true}};
    const QString path = freshDefaultsPath(QStringLiteral("preferences"));
    Start start(path);
    EXPECT_EQ(KOPreferences::kNotificationSystemNative, 0x6F73786Eu);
    EXPECT_EQ(KOPreferences::kNotificationSystemGrowl, 0x67726F77u);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.chosen);
        start.preferences.setNotificationSystem(c.chosen);
        EXPECT_EQ(onDisk(path).objectForKey("KOGrowl.UseSystemNotificationSystem"),
                  QVariant(c.stored));
        EXPECT_EQ(start.preferences.notificationSystem(), KOPreferences::kNotificationSystemNative);
    }
}

} // namespace
