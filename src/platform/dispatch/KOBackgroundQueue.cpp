#include "platform/dispatch/KOBackgroundQueue.h"

#include "platform/log/Log.h"

#include <chrono>
#include <cstdint>
#include <exception>
#include <utility>

namespace {

constexpr const char* kBackgroundQueueLabel = "audio.koru.KORU-background";
constexpr std::chrono::nanoseconds kTimerLeeway{1'000'000'000};

koru::platform::SerialQueue* makeBackgroundQueue() {
    try {
        return new koru::platform::SerialQueue(kBackgroundQueueLabel);
    } catch (const std::exception& e) {
        koru::log::error("Cannot create the background queue: {}", e.what());
        return nullptr;
    }
}

} // namespace

koru::platform::SerialQueue* KOBackgroundQueue() {
    // Never destroyed: blocks may still be queued while the program exits.
    static koru::platform::SerialQueue* const queue = makeBackgroundQueue();
    return queue;
}

void KODispatchBackground(std::function<void()> block) {
    if (auto* queue = KOBackgroundQueue())
        queue->async(std::move(block));
}

std::unique_ptr<koru::platform::RepeatingTimer>
KOCreateRepeatingTimer(unsigned seconds, std::function<void()> block,
                       koru::platform::TimerClock& clock) {
    auto* queue = KOBackgroundQueue();
    if (!queue)
        return nullptr;
    const std::chrono::nanoseconds interval{static_cast<std::int64_t>(seconds) * 1'000'000'000};
    try {
        return std::make_unique<koru::platform::RepeatingTimer>(*queue, interval, kTimerLeeway,
                                                                std::move(block), clock);
    } catch (const std::exception& e) {
        koru::log::error("Cannot create a repeating timer: {}", e.what());
        return nullptr;
    }
}
