#pragma once

#include <QString>

#include <functional>
#include <ostream>
#include <string>

// Failure messages show Qt strings as text (lists of them too) rather than as bytes.
inline void PrintTo(const QString& text, std::ostream* out) {
    *out << '"' << text.toStdString() << '"';
}

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

// Limits the size of any file this process writes for the life of the object, so a write runs
// out of room part-way as on a full disk (the limit binds root too); the signal it would raise
// is ignored meanwhile, leaving the write to fail with an error.
class ScopedFileSizeLimit {
public:
    explicit ScopedFileSizeLimit(unsigned long bytes);
    ~ScopedFileSizeLimit();
    ScopedFileSizeLimit(const ScopedFileSizeLimit&) = delete;
    ScopedFileSizeLimit& operator=(const ScopedFileSizeLimit&) = delete;
    bool active() const { return m_active; }

private:
    unsigned long m_previousCurrent = 0;
    void (*m_previousHandler)(int) = nullptr;
    bool m_active = false;
};

// Runs the Qt event loop until `done` answers true or `timeoutMs` passes; returns done().
bool spinUntil(const std::function<bool()>& done, int timeoutMs = 5000);

} // namespace koru::test
