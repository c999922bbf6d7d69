#pragma once

#include <QString>

#include <functional>
#include <string>

namespace koru::test {

// The temporary folder this test process points XDG_DATA_HOME, XDG_CONFIG_HOME and
// XDG_STATE_HOME into (sub-folders "data", "config", "state").
QString testRoot();

// Switches the C and Qt locales for the life of the object (LC_ALL and QLocale::setDefault).
// Returns false from active() when the system lacks the locale; callers then GTEST_SKIP.
class ScopedLocale {
public:
    explicit ScopedLocale(const char* name);
    ~ScopedLocale();
    bool active() const { return m_active; }

private:
    std::string m_previous;
    bool m_active = false;
};

// Runs the Qt event loop until `done` answers true or `timeoutMs` passes; returns done().
bool spinUntil(const std::function<bool()>& done, int timeoutMs = 5000);

} // namespace koru::test
