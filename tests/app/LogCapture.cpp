#include "LogCapture.h"

#include "platform/log/Log.h"

#include <spdlog/sinks/base_sink.h>

#include <algorithm>
#include <mutex>

namespace koru::test {

class LogCapture::Sink : public spdlog::sinks::base_sink<std::mutex> {
public:
    std::vector<std::string> lines() {
        std::lock_guard lock(mutex_);
        return m_lines;
    }

protected:
    void sink_it_(const spdlog::details::log_msg& message) override {
        m_lines.emplace_back(message.payload.data(), message.payload.size());
    }
    void flush_() override {}

private:
    std::vector<std::string> m_lines;
};

LogCapture::LogCapture() : m_sink(std::make_shared<Sink>()) {
    koru::log::logger().sinks().push_back(m_sink);
}

LogCapture::~LogCapture() {
    auto& sinks = koru::log::logger().sinks();
    sinks.erase(std::remove(sinks.begin(), sinks.end(), m_sink), sinks.end());
}

std::vector<std::string> LogCapture::lines() const {
    return m_sink->lines();
}

int LogCapture::count(const std::string& text) const {
    const auto all = lines();
    return static_cast<int>(std::count_if(all.begin(), all.end(), [&](const std::string& line) {
        return line.find(text) != std::string::npos;
    }));
}

} // namespace koru::test
