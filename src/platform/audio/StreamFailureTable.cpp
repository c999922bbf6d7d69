#include "platform/audio/StreamFailureTable.h"

namespace koru::platform {

namespace {

thread_local int t_callDepth = 0;

} // namespace

StreamFailureTable& StreamFailureTable::shared() {
    static StreamFailureTable* table = new StreamFailureTable; // lives as long as the process
    return *table;
}

int StreamFailureTable::attach(std::atomic<bool>& failedFlag) noexcept {
    for (std::size_t i = 0; i < kSlots; ++i) {
        std::atomic<bool>* expected = nullptr;
        if (m_slots[i].flag.compare_exchange_strong(expected, &failedFlag)) {
            m_slots[i].thread.store(0);
            return int(i);
        }
    }
    return -1;
}

void StreamFailureTable::detach(int slot) noexcept {
    if (slot < 0)
        return;
    Slot& s = m_slots[std::size_t(slot)];
    s.thread.store(0);
    s.flag.store(nullptr);
}

void StreamFailureTable::noteAudioThread(int slot) noexcept {
    if (slot < 0)
        return;
    Slot& s = m_slots[std::size_t(slot)];
    const pthread_t self = pthread_self();
    if (s.thread.load(std::memory_order_relaxed) != self)
        s.thread.store(self, std::memory_order_relaxed);
}

StreamFailureTable::Placement StreamFailureTable::report(bool warning,
                                                         std::string_view text) noexcept {
    if (CallScope::active())
        return Placement::Caller;
    const pthread_t self = pthread_self();
    bool placed = false;
    for (Slot& s : m_slots) {
        std::atomic<bool>* flag = s.flag.load();
        if (flag && s.thread.load() == self) {
            flag->store(true);
            placed = true;
        }
    }
    if (placed)
        return Placement::Stream;
    if (warning && text.find("shutting down") == std::string_view::npos)
        return Placement::Nowhere;
    bool any = false;
    for (Slot& s : m_slots) {
        if (std::atomic<bool>* flag = s.flag.load(); flag && s.thread.load() != 0) {
            flag->store(true);
            any = true;
        }
    }
    return any ? Placement::EveryStream : Placement::Nowhere;
}

StreamFailureTable::CallScope::CallScope() noexcept {
    ++t_callDepth;
}

StreamFailureTable::CallScope::~CallScope() {
    --t_callDepth;
}

bool StreamFailureTable::CallScope::active() noexcept {
    return t_callDepth > 0;
}

} // namespace koru::platform
