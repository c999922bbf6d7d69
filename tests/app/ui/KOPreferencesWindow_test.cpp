#include "support/TestSupport.h"

#include "app/KOGrowlNotificationCenter.h"
#include "app/KOPreferences.h"
#include "app/PreferencesTestSupport.h"
#include "app/ui/KOPreferencesWindow.h"
#include "platform/defaults/UserDefaults.h"
#include "platform/desktop/NotificationSink.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QSpinBox>
#include <QTest>

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <atomic>
#include <memory>
#include <vector>

using koru::platform::UserDefaults;
using koru::test::DiscardingSink;
using koru::test::freshDefaultsPath;

namespace {

// Every write replaces the file by a new one, so an unchanged identity means nothing was
// written, even a write of the same bytes.
ino_t fileIdentity(const QString& path) {
    struct stat info {};
    return ::stat(QFile::encodeName(path).constData(), &info) == 0 ? info.st_ino : 0;
}

QByteArray contents(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// What the next start of the program would read.
UserDefaults onDisk(const QString& path) {
    return UserDefaults(path);
}

class PreferencesWindowTest : public ::testing::Test {
protected:
    QString path = freshDefaultsPath(QStringLiteral("preferences-window"));
    UserDefaults defaults{path};
    KOGrowlNotificationCenter centre{std::make_unique<DiscardingSink>(), defaults};
    KOPreferences preferences{defaults, centre};
    KOPreferencesWindow window{preferences};
};

TEST_F(PreferencesWindowTest, CheckBoxesShowAndWriteTheirDefaults) {
    struct Case {
        const char* key;
        QCheckBox* box;
    };
    const std::vector<Case> cases = {
        {"loadLastSession", window.loadLastSessionCheckBox()},
        {"AlwaysOpenDelayFinder", window.alwaysOpenDelayFinderCheckBox()},
        {"AutoCloseColorPanel", window.autoCloseColorPanelCheckBox()},
        {"KORU.General.ShowAllWindowsWhenApplicationBecomesActive",
         window.showAllWindowsCheckBox()},
        {"KORU.Workspace.UpdateBeforeRecall", window.updateWorkspaceBeforeRecallCheckBox()},
    };
    window.showWindow();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.key);
        for (const bool stored : {true, false}) {
            defaults.setBool(c.key, stored);
            window.refresh();
            EXPECT_EQ(c.box->isChecked(), stored);

            QTest::mouseClick(c.box, Qt::LeftButton);
            EXPECT_EQ(c.box->isChecked(), !stored);
            EXPECT_EQ(onDisk(path).objectForKey(c.key), QVariant(!stored));
        }
    }
}

TEST_F(PreferencesWindowTest, ColourPanelDelayShowsAndWritesSecondsWithinRange) {
    QSpinBox* seconds = window.autoCloseColorPanelTimeSpinBox();
    struct Shown {
        QVariant stored;
        int shows;
    };
    for (const Shown& c : std::vector<Shown>{{7, 7}, {0, 3}, {QVariant(), 3}, {50, 10}}) {
        SCOPED_TRACE(c.stored.toString().toStdString());
        defaults.setObject("AutoCloseColorPanelTime", c.stored);
        window.refresh();
        EXPECT_EQ(seconds->value(), c.shows);
    }

    struct Typed {
        int value;
        qint64 stored;
    };
    for (const Typed& c : std::vector<Typed>{{9, 9}, {2, 2}, {1, 2}, {10, 10}, {11, 10}}) {
        SCOPED_TRACE(c.value);
        seconds->setValue(5);
        seconds->setValue(c.value);
        EXPECT_EQ(onDisk(path).integerForKey("AutoCloseColorPanelTime"), c.stored);
    }

    window.showWindow();
    window.autoCloseColorPanelCheckBox()->setChecked(true);
    EXPECT_TRUE(seconds->isEnabled());
    QTest::mouseClick(window.autoCloseColorPanelCheckBox(), Qt::LeftButton);
    EXPECT_FALSE(seconds->isEnabled());
    defaults.setBool("AutoCloseColorPanel", true);
    window.showWindow();
    EXPECT_TRUE(seconds->isEnabled());
}

// Only the desktop's own service is offered; choosing it is remembered as the system one, also
// over an older choice of the other.
TEST_F(PreferencesWindowTest, NotificationPopUpOffersOnlyDesktopNotifications) {
    QComboBox* popUp = window.notificationSystemPopUpButton();
    ASSERT_EQ(popUp->count(), 1);
    EXPECT_EQ(popUp->itemText(0), QStringLiteral("Desktop notifications"));
    EXPECT_EQ(popUp->itemData(0).toUInt(), KOPreferences::kNotificationSystemNative);

    preferences.setNotificationSystem(KOPreferences::kNotificationSystemGrowl);
    ASSERT_EQ(onDisk(path).objectForKey("KOGrowl.UseSystemNotificationSystem"), QVariant(false));
    window.showWindow();
    EXPECT_EQ(popUp->currentIndex(), 0);

    emit popUp->activated(0);
    EXPECT_EQ(onDisk(path).objectForKey("KOGrowl.UseSystemNotificationSystem"), QVariant(true));
}

// Opening the window or re-reading it must not write what it shows back into the defaults: a
// delay edited out of range would be replaced by the window's clamped copy.
TEST_F(PreferencesWindowTest, ShowingTheWindowWritesNothing) {
    defaults.setBool("loadLastSession", false);
    defaults.setBool("AlwaysOpenDelayFinder", true);
    defaults.setBool("AutoCloseColorPanel", true);
    defaults.setInteger("AutoCloseColorPanelTime", -1);
    defaults.setBool("KOGrowl.UseSystemNotificationSystem", true);
    const ino_t before = fileIdentity(path);
    const QByteArray beforeContents = contents(path);
    ASSERT_NE(before, 0u);

    window.showWindow();
    window.refresh();
    window.close();
    window.showWindow();

    EXPECT_EQ(fileIdentity(path), before);
    EXPECT_EQ(contents(path), beforeContents);
    EXPECT_FALSE(window.loadLastSessionCheckBox()->isChecked());
    EXPECT_TRUE(window.alwaysOpenDelayFinderCheckBox()->isChecked());
    EXPECT_EQ(window.autoCloseColorPanelTimeSpinBox()->value(), 2);
}

} // namespace
