#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <thread>
#include <vector>

namespace koru::test {

// Threads that read an instrument's results as fast as they can until stopped: `read(thread)`
// returns false for a result it finds wrong. Tests pace themselves on the read counts (a bounded
// wait for a count, never a sleep), so readers are known to run between any two blocks.
class ReaderThreads {
public:
    ReaderThreads(int threads, std::function<bool(int thread)> read)
        : mRead(std::move(read)), mCounts(std::size_t(threads)) {
        for (int t = 0; t < threads; ++t)
            mThreads.emplace_back([this, t] {
                while (!mStop.load()) {
                    if (!mRead(t))
                        ++mFailures;
                    ++mCounts[std::size_t(t)];
                }
            });
    }
    ~ReaderThreads() { stop(); }
    ReaderThreads(const ReaderThreads&) = delete;
    ReaderThreads& operator=(const ReaderThreads&) = delete;

    void stop() {
        mStop.store(true);
        for (std::thread& thread : mThreads)
            if (thread.joinable())
                thread.join();
    }

    // Until every thread has finished at least one more read than when called; false only if a
    // thread is stuck (the deadline is a safety net, far beyond any real read).
    bool waitForEachThread() {
        std::vector<std::uint64_t> targets;
        for (const auto& count : mCounts)
            targets.push_back(count.load() + 1);
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        for (std::size_t t = 0; t < mCounts.size(); ++t) {
            while (mCounts[t].load() < targets[t]) {
                if (std::chrono::steady_clock::now() > deadline)
                    return false;
                std::this_thread::yield();
            }
        }
        return true;
    }

    std::uint64_t failures() const { return mFailures.load(); }
    std::uint64_t reads() const {
        std::uint64_t total = 0;
        for (const auto& count : mCounts)
            total += count.load();
        return total;
    }

private:
    std::function<bool(int)> mRead;
    std::vector<std::atomic<std::uint64_t>> mCounts;
    std::atomic<std::uint64_t> mFailures{0};
    std::atomic<bool> mStop{false};
    std::vector<std::thread> mThreads;
};

} // namespace koru::test
