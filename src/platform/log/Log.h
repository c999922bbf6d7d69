#pragma once

#include <spdlog/spdlog.h>

#include <string>

namespace koru::log {

// Sets up the console logger and the rolling file logger in $XDG_STATE_HOME/KORU/<name>.log.
// Safe to call more than once; before it is called, messages go to the console only.
void init(const std::string& programName);

spdlog::logger& logger();

template <typename... Args> void debug(fmt::format_string<Args...> f, Args&&... args) {
    logger().debug(f, std::forward<Args>(args)...);
}
template <typename... Args> void info(fmt::format_string<Args...> f, Args&&... args) {
    logger().info(f, std::forward<Args>(args)...);
}
template <typename... Args> void warn(fmt::format_string<Args...> f, Args&&... args) {
    logger().warn(f, std::forward<Args>(args)...);
}
template <typename... Args> void error(fmt::format_string<Args...> f, Args&&... args) {
    logger().error(f, std::forward<Args>(args)...);
}

// The full path of the log file, once init() has run.
std::string logFilePath();

} // namespace koru::log
