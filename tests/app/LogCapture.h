#pragma once

#include <memory>
#include <string>
#include <vector>

namespace koru::test {

// Collects the program's log lines (their text, without the pattern) while it lives.
class LogCapture {
public:
    LogCapture();
    ~LogCapture();

    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    std::vector<std::string> lines() const;
    // How many lines contain `text`.
    int count(const std::string& text) const;

    class Sink;

private:
    std::shared_ptr<Sink> m_sink;
};

} // namespace koru::test
