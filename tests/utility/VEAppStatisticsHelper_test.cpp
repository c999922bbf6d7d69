#include "UtilityTestSupport.h"

#include "utility/VEAppStatisticsHelper.h"

#include "platform/defaults/UserDefaults.h"

#include <QDir>
#include <QGuiApplication>

namespace {

using koru::platform::UserDefaults;

class VEAppStatisticsHelperTest : public ::testing::Test {
protected:
    void SetUp() override {
        const QString folder = koru::test::testRoot() + "/statistics-" +
                               ::testing::UnitTest::GetInstance()->current_test_info()->name();
        QDir(folder).removeRecursively();
        defaults = std::make_unique<UserDefaults>(folder + "/defaults.plist");
    }

    std::unique_ptr<VEAppStatisticsHelper> make() {
        return std::make_unique<VEAppStatisticsHelper>(*defaults, [this] { return now; });
    }

    double storedTime() const { return defaults->doubleForKey(VEAppStatisticsHelper::kTimeKey); }

    std::unique_ptr<UserDefaults> defaults;
    double now = 1000.0;
};

TEST_F(VEAppStatisticsHelperTest, TheInstallationIdentifierIsMadeOnce) {
    make();
    const QString uuid = defaults->stringForKey(VEAppStatisticsHelper::kUuidKey);
    EXPECT_EQ(uuid.size(), 36);
    defaults->reload();
    make();
    EXPECT_EQ(defaults->stringForKey(VEAppStatisticsHelper::kUuidKey), uuid);
    EXPECT_DOUBLE_EQ(storedTime(), 0.0);
}

TEST_F(VEAppStatisticsHelperTest, RequestCountsTheRunningStretchInWholeSeconds) {
    defaults->setDouble(VEAppStatisticsHelper::kTimeKey, 100.4);
    auto helper = make();
    helper->startUsage();
    now += 0.3;
    const QVariantList keys = helper->updaterKeysCombinedWithKeys(std::nullopt);
    ASSERT_EQ(keys.size(), 2);
    const QString uuid = defaults->stringForKey(VEAppStatisticsHelper::kUuidKey);
    EXPECT_EQ(
        keys[0].toMap(),
        (QVariantMap{
            {"key", "uuid"}, {"value", uuid}, {"dsiplayKey", "uuid"}, {"dsiplayValue", uuid}}));
    const QVariantMap time = keys[1].toMap();
    EXPECT_EQ(time.value("key"), "ve_usage_time");
    EXPECT_EQ(time.value("dsiplayKey"), "usage time");
    EXPECT_EQ(time.value("value").toLongLong(), 101);
    EXPECT_EQ(time.value("dsiplayValue").toLongLong(), 101);
    EXPECT_NEAR(storedTime(), 100.7, 1e-9);

    now += 2.0;
    helper->stopUsage();
    EXPECT_NEAR(storedTime(), 102.7, 1e-9) << "timing went on after the request";
}

TEST_F(VEAppStatisticsHelperTest, GivenKeysComeFirst) {
    auto helper = make();
    const QVariantList given = {QVariantMap{{"key", "os"}}};
    const QVariantList keys = helper->updaterKeysCombinedWithKeys(given);
    ASSERT_EQ(keys.size(), 3);
    EXPECT_EQ(keys[0].toMap().value("key"), "os");
    EXPECT_EQ(keys[1].toMap().value("key"), "uuid");
    EXPECT_EQ(keys[2].toMap().value("key"), "ve_usage_time");
}

TEST_F(VEAppStatisticsHelperTest, ResigningThenQuittingCountsTheStretchOnce) {
    auto helper = make();
    helper->start();
    now += 10.0;
    emit qGuiApp->applicationStateChanged(Qt::ApplicationInactive);
    now += 50.0;
    // The quit signal is private to the application; emit it the way quitting does.
    ASSERT_TRUE(QMetaObject::invokeMethod(qApp, "aboutToQuit", Qt::DirectConnection));
    EXPECT_DOUBLE_EQ(storedTime(), 10.0);

    emit qGuiApp->applicationStateChanged(Qt::ApplicationActive);
    now += 5.0;
    emit qGuiApp->applicationStateChanged(Qt::ApplicationInactive);
    EXPECT_DOUBLE_EQ(storedTime(), 15.0);
}

TEST_F(VEAppStatisticsHelperTest, ResetStartsCountingAfresh) {
    auto helper = make();
    helper->startUsage();
    now += 30.0;
    helper->stopUsage();
    helper->startUsage();
    now += 30.0;
    helper->resetTime();
    EXPECT_DOUBLE_EQ(storedTime(), 0.0);
    now += 4.0;
    helper->stopUsage();
    EXPECT_DOUBLE_EQ(storedTime(), 4.0);
}

} // namespace
