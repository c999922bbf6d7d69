#include "platform/log/Log.h"

#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QUuid>

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

namespace {

QString readLog() {
    QFile file(QString::fromStdString(koru::log::logFilePath()));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(file.readAll());
}

TEST(Log, WritesToAFileUnderTheStateFolder) {
    spdlog::logger& early = koru::log::logger();
    koru::log::init("platform_tests");
    koru::log::init("platform_tests_again"); // a second call changes nothing

    const QString expected = koru::test::testRoot() + "/state/KORU/platform_tests.log";
    EXPECT_EQ(QString::fromStdString(koru::log::logFilePath()), expected);

    const QString marker = QUuid::createUuid().toString(QUuid::WithoutBraces);
    koru::log::info("written after init {} {}", marker.toStdString(), 1.5);
    early.info("written through the early logger {}", marker.toStdString());
    koru::log::logger().flush();

    const QString text = readLog();
    EXPECT_TRUE(text.contains("written after init " + marker + " 1.5")) << text.toStdString();
    EXPECT_TRUE(text.contains("[info]"));
}

TEST(Log, DecimalCommaLocaleDoesNotChangeLoggedNumbers) {
    koru::test::ScopedLocale locale("de_DE.UTF-8");
    if (!locale.active())
        GTEST_SKIP() << "de_DE.UTF-8 is not installed";
    koru::log::init("platform_tests");
    const QString marker = QUuid::createUuid().toString(QUuid::WithoutBraces);
    koru::log::warn("{} level {:.1f}", marker.toStdString(), -12.34);
    koru::log::logger().flush();

    EXPECT_TRUE(readLog().contains(marker + " level -12.3")) << readLog().toStdString();
}

TEST(LogDeathTest, UnwritableStateFolderFallsBackToTheConsole) {
    // init() acts once per process, so the failing case runs in a fresh process of its own.
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            const QString blocker = koru::test::testRoot() + "/not-a-folder";
            QFile file(blocker);
            file.open(QIODevice::WriteOnly);
            file.close();
            qputenv("XDG_STATE_HOME", blocker.toUtf8());
            koru::log::init("blocked");
            koru::log::error("still logging {}", 1);
            const bool fellBack = koru::log::logFilePath().empty();
            QDir(koru::test::testRoot()).removeRecursively();
            std::exit(fellBack ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "still logging 1");
}

} // namespace
