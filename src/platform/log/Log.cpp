#include "platform/log/Log.h"

#include "platform/paths/Paths.h"

#include <spdlog/sinks/rotating_file_sink.h>
#include <spdlog/sinks/stdout_color_sinks.h>

#include <atomic>
#include <exception>
#include <memory>
#include <mutex>
#include <vector>

namespace koru::log {

namespace {

constexpr std::size_t kMaxFileSize = 5 * 1024 * 1024;
constexpr std::size_t kMaxFiles = 3;
constexpr const char* kPattern = "[%Y-%m-%d %H:%M:%S.%e] [%l] [%t] %v";

// Every logger ever handed out stays alive for the process's life, so a reference obtained
// before init() replaced the logger never dangles. Lock order: only this mutex.
struct LoggerState {
    std::mutex mutex; // guards loggers, initialised and filePath
    std::vector<std::shared_ptr<spdlog::logger>> loggers;
    std::atomic<spdlog::logger*> current{nullptr};
    bool initialised = false;
    std::string filePath;
};

LoggerState& state() {
    static LoggerState* const instance = new LoggerState;
    return *instance;
}

std::shared_ptr<spdlog::sinks::sink> makeConsoleSink() {
    auto sink = std::make_shared<spdlog::sinks::stderr_color_sink_mt>();
    sink->set_level(spdlog::level::info);
    return sink;
}

std::shared_ptr<spdlog::logger> makeLogger(const std::string& name,
                                           std::vector<spdlog::sink_ptr> sinks) {
    auto logger = std::make_shared<spdlog::logger>(name, sinks.begin(), sinks.end());
    logger->set_pattern(kPattern);
    logger->set_level(spdlog::level::debug);
    // Log lines are rare and matter most just before a crash: write each one through.
    logger->flush_on(spdlog::level::debug);
    return logger;
}

// Caller holds state().mutex.
void install(LoggerState& s, std::shared_ptr<spdlog::logger> logger) {
    s.current.store(logger.get(), std::memory_order_release);
    s.loggers.push_back(std::move(logger));
}

// Caller holds state().mutex.
spdlog::logger& ensureLogger(LoggerState& s) {
    if (auto* current = s.current.load(std::memory_order_acquire))
        return *current;
    install(s, makeLogger("KORU", {makeConsoleSink()}));
    return *s.current.load(std::memory_order_acquire);
}

std::string logPathFor(const std::string& programName) {
    return (platform::stateDirectory() + "/").toStdString() + programName + ".log";
}

} // namespace

void init(const std::string& programName) {
    LoggerState& s = state();
    std::lock_guard lock(s.mutex);
    if (s.initialised)
        return;
    s.initialised = true;
    const std::string path = logPathFor(programName);
    std::vector<spdlog::sink_ptr> sinks{makeConsoleSink()};
    std::string failure;
    try {
        sinks.push_back(
            std::make_shared<spdlog::sinks::rotating_file_sink_mt>(path, kMaxFileSize, kMaxFiles));
    } catch (const std::exception& e) {
        failure = e.what();
    }
    install(s, makeLogger(programName, std::move(sinks)));
    if (!failure.empty()) {
        s.current.load()->warn("Cannot open the log file {}: {}; logging to the console only", path,
                               failure);
        return;
    }
    s.filePath = path;
}

spdlog::logger& logger() {
    LoggerState& s = state();
    if (auto* current = s.current.load(std::memory_order_acquire))
        return *current;
    std::lock_guard lock(s.mutex);
    return ensureLogger(s);
}

std::string logFilePath() {
    LoggerState& s = state();
    std::lock_guard lock(s.mutex);
    return s.filePath;
}

} // namespace koru::log
