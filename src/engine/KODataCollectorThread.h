#pragma once

#include "engine/DataCollectionClient.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

class KOAD;

// The one background thread that turns the audio thread's per-buffer results into drawing data.
// The engine wakes it after every buffer; a pass asks every registered controller for its
// dataCollection, then runs the post-pass hook (the audio device's clip check).
//
// Wake-ups and coalescing: the data-ready flag is an atomic the audio thread sets and notifies
// without any lock; the loop waits on the flag itself (std::atomic::wait compares and sleeps in
// one step), so a wake-up sent before the loop starts waiting is never lost. The flag is cleared
// after the pass, so every wake-up that arrives while a pass runs folds into it and a slow pass
// never builds a backlog: at most one pass per buffer, fewer when passes take longer than a
// buffer. The price of clearing late: a wake-up landing after a controller has already collected
// leaves that buffer's results to the next pass, one buffer later while the engine runs; nothing
// is lost, since the instruments keep their newest results until they are collected.
//
// Locks: the collector lock guards the controller list and is held for a whole pass, so removing
// a controller waits until the pass that may be using it ends. Lock order: collector lock, then a
// controller's data-collection lock, then an instrument mutex. The hook lock is never held
// together with the collector lock. Nothing here waits for the main thread.
class KODataCollectorThread {
public:
    using FinishedHook = std::function<void()>;

    // The process's collector, started on first use and never stopped.
    static KODataCollectorThread& sharedCollectorThread();
    // A collector of its own with a running loop, stopped and joined when it is destroyed.
    static std::unique_ptr<KODataCollectorThread> createPrivate();

    ~KODataCollectorThread();
    KODataCollectorThread(const KODataCollectorThread&) = delete;
    KODataCollectorThread& operator=(const KODataCollectorThread&) = delete;

    // Starts the loop's thread; it is started once, a later call does nothing.
    void startCollectorLoop();
    // The thread body. Only one loop runs per collector: any further call returns at once.
    void collectorLoop();

    // Makes this collector the one the engine wakes after every buffer (its data-ready hook);
    // null does nothing. A private collector given to an engine must outlive the engine's
    // audio passes.
    void setKOAD(KOAD* engine);

    // Main thread. The caller keeps the controller alive until removeInstrumentController has
    // returned; both wait while a pass runs. Never call them from a dataCollection.
    void addInstrumentController(koru::DataCollectionClient* controller);
    void removeInstrumentController(koru::DataCollectionClient* controller);

    // Runs on the collector thread after every pass; replacing it waits for a running hook, so
    // once this returns the old hook never runs again. An empty function removes it.
    void setDataCollectorFinishedHook(FinishedHook hook);

    // Audio thread: sets the data-ready flag and wakes the loop. Takes no lock.
    void wakeUp();
    // The engine's hook takes no arguments: this wakes the collector setKOAD chose.
    static void wakeUpEngineCollector();

    // Passes completed so far.
    std::uint64_t passCount() const { return mPasses.load(std::memory_order_acquire); }
    // True while the loop sleeps with no wake-up pending: no further pass runs until the next
    // wakeUp. Lets tests tell "no pass is coming" from "a pass has not run yet" without waiting.
    bool isIdle() const { return mIdle.load(); }

private:
    KODataCollectorThread() = default;

    void runThread();
    void runPass();
    void collectFromControllers();
    void runFinishedHook();
    void stop();

    static std::atomic<KODataCollectorThread*> sEngineCollector;

    std::mutex mCollectorLock; // guards mControllers; held for a whole pass
    std::vector<koru::DataCollectionClient*> mControllers;
    std::mutex mHookLock; // guards mFinishedHook; held while it runs
    FinishedHook mFinishedHook;

    // Starts true, so the first pass runs at once.
    std::atomic<bool> mDataReady{true};
    std::atomic<bool> mStopRequested{false};
    std::atomic<bool> mLoopEntered{false};
    std::atomic<std::uint64_t> mPasses{0};
    std::atomic<bool> mIdle{false};
    std::once_flag mStarted;
    std::thread mThread;
};
