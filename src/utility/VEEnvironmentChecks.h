#pragma once

#include <QString>
#include <QStringList>

// Questions about the environment the program runs in, answered for Linux.

// Crash reports of this program that appeared since the last look. Linux has no per-user
// crash-report folders (core dumps, where kept at all, belong to the system's own collectors), so
// there is nothing to scan: the answer says the check is not available and why, rather than
// reporting an empty list as "no crashes".
class VECrashReportChecker {
public:
    struct Reports {
        bool available = false; // whether the check could be made at all
        QStringList paths;      // full paths of new reports, when available
        QString reason;         // why not, when unavailable
    };

    // Worked out on the first call; every later call answers the same object.
    static const Reports& crashReports();
};

// Whether the program runs confined by a code-signature entitlement. Linux has neither code
// signatures nor that kind of sandbox, so the answer is always no.
class VESandboxCheck {
public:
    static bool ve_isSandboxed() { return false; }
};
