#include "utility/VEEnvironmentChecks.h"

const VECrashReportChecker::Reports& VECrashReportChecker::crashReports() {
    // Thread-safe and once per process; no scan date is stored since no scan happens.
    static const Reports reports{
        false,
        {},
        QStringLiteral("Crash reports are not available: Linux keeps no per-user "
                       "crash-report folders.")};
    return reports;
}
