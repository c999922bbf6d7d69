#include "utility/VEEnvironmentChecks.h"

#include <gtest/gtest.h>

namespace {

TEST(VEEnvironmentChecksTest, CrashReportCheckSaysItCannotBeMadeAndAnswersOnce) {
    const VECrashReportChecker::Reports& reports = VECrashReportChecker::crashReports();
    EXPECT_FALSE(reports.available);
    EXPECT_TRUE(reports.paths.isEmpty());
    EXPECT_FALSE(reports.reason.isEmpty()) << "an unavailable check must say why";
    EXPECT_EQ(&VECrashReportChecker::crashReports(), &reports) << "the same answer every time";
}

} // namespace
