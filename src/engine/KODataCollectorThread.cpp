#include "engine/KODataCollectorThread.h"

#include "engine/Denormals.h"
#include "engine/KOAD.h"
#include "platform/log/Log.h"

#include <algorithm>
#include <exception>

std::atomic<KODataCollectorThread*> KODataCollectorThread::sEngineCollector{nullptr};

KODataCollectorThread& KODataCollectorThread::sharedCollectorThread() {
    // Never destroyed: the loop runs until the process ends.
    static KODataCollectorThread* const instance = [] {
        auto* collector = new KODataCollectorThread();
        collector->startCollectorLoop();
        return collector;
    }();
    return *instance;
}

std::unique_ptr<KODataCollectorThread> KODataCollectorThread::createPrivate() {
    std::unique_ptr<KODataCollectorThread> collector(new KODataCollectorThread());
    collector->startCollectorLoop();
    return collector;
}

KODataCollectorThread::~KODataCollectorThread() {
    KODataCollectorThread* self = this;
    sEngineCollector.compare_exchange_strong(self, nullptr);
    stop();
}

void KODataCollectorThread::stop() {
    mStopRequested.store(true, std::memory_order_release);
    mDataReady.store(true, std::memory_order_release);
    mDataReady.notify_one();
    if (mThread.joinable())
        mThread.join();
}

void KODataCollectorThread::startCollectorLoop() {
    std::call_once(mStarted, [this] { mThread = std::thread([this] { runThread(); }); });
}

void KODataCollectorThread::runThread() {
    // Nothing may escape a thread's entry point; the passes already catch their own failures.
    try {
        collectorLoop();
    } catch (const std::exception& e) {
        koru::log::error("Data collector stopped: {}", e.what());
    } catch (...) {
        koru::log::error("Data collector stopped by an unknown exception");
    }
}

void KODataCollectorThread::collectorLoop() {
    if (mLoopEntered.exchange(true))
        return;
    koru::flushDenormalsOnThisThread();
    while (!mStopRequested.load(std::memory_order_acquire)) {
        // Idle is announced before the flag is looked at, and wakeUp withdraws it after setting
        // the flag (both sequentially consistent): idle never stays set while a wake-up waits.
        mIdle.store(true);
        if (mDataReady.load())
            mIdle.store(false);
        mDataReady.wait(false, std::memory_order_acquire);
        mIdle.store(false);
        if (mStopRequested.load(std::memory_order_acquire))
            return;
        runPass();
    }
}

void KODataCollectorThread::runPass() {
    collectFromControllers();
    mDataReady.store(false, std::memory_order_release);
    runFinishedHook();
    mPasses.fetch_add(1, std::memory_order_acq_rel);
}

void KODataCollectorThread::collectFromControllers() {
    const std::lock_guard lock(mCollectorLock);
    for (koru::DataCollectionClient* controller : mControllers) {
        // One failing instrument must neither end the thread nor starve the others.
        try {
            controller->dataCollection();
        } catch (const std::exception& e) {
            koru::log::error("Data collection failed: {}", e.what());
        } catch (...) {
            koru::log::error("Data collection failed with an unknown exception");
        }
    }
}

void KODataCollectorThread::runFinishedHook() {
    const std::lock_guard lock(mHookLock);
    if (!mFinishedHook)
        return;
    try {
        mFinishedHook();
    } catch (const std::exception& e) {
        koru::log::error("Data collector's finishing step failed: {}", e.what());
    } catch (...) {
        koru::log::error("Data collector's finishing step failed with an unknown exception");
    }
}

void KODataCollectorThread::addInstrumentController(koru::DataCollectionClient* controller) {
    if (controller == nullptr)
        return;
    const std::lock_guard lock(mCollectorLock);
    if (std::find(mControllers.begin(), mControllers.end(), controller) == mControllers.end())
        mControllers.push_back(controller);
}

void KODataCollectorThread::removeInstrumentController(koru::DataCollectionClient* controller) {
    const std::lock_guard lock(mCollectorLock);
    std::erase(mControllers, controller);
}

void KODataCollectorThread::setDataCollectorFinishedHook(FinishedHook hook) {
    {
        const std::lock_guard lock(mHookLock);
        std::swap(mFinishedHook, hook);
    }
    // The old hook, now in `hook`, and whatever it captured go outside the lock.
}

void KODataCollectorThread::wakeUp() {
    mDataReady.store(true);
    mIdle.store(false);
    mDataReady.notify_one();
}

void KODataCollectorThread::setKOAD(KOAD* engine) {
    if (engine == nullptr)
        return;
    sEngineCollector.store(this, std::memory_order_release);
    engine->SetDataReadyHook(&KODataCollectorThread::wakeUpEngineCollector);
}

void KODataCollectorThread::wakeUpEngineCollector() {
    if (KODataCollectorThread* collector = sEngineCollector.load(std::memory_order_acquire))
        collector->wakeUp();
}
