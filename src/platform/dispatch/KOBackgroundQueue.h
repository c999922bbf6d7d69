#pragma once

#include "platform/dispatch/SerialQueue.h"

#include <functional>
#include <memory>

// The shared serial background queue: autosave, exports, notification batches and the like run
// here one at a time, in submission order. Created on first use, kept for the process's life.
koru::platform::SerialQueue* KOBackgroundQueue();

// Submits a block to the shared queue.
void KODispatchBackground(std::function<void()> block);

// A timer on the shared queue: first fire at once, then every `seconds` on `clock`, up to 1 s
// late. The caller owns it; destroying it cancels it.
std::unique_ptr<koru::platform::RepeatingTimer>
KOCreateRepeatingTimer(unsigned seconds, std::function<void()> block,
                       koru::platform::TimerClock& clock = koru::platform::TimerClock::steady());
