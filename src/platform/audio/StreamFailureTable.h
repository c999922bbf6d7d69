#pragma once

#include <pthread.h>

#include <array>
#include <atomic>
#include <cstddef>
#include <string_view>

namespace koru::platform {

// Places an error the sound system reports on the stream it belongs to. The library's error
// callback carries no context, so the error is placed by the thread that reports it:
// - inside one of our own calls on a stream (open, start, stop, close) on that thread, the
//   caller has it (thrown or returned) and no stream is marked: stopping an output whose device
//   was unplugged complains, and that must never fail the input;
// - on a stream's audio thread, that stream alone failed;
// - anywhere else, an error (not a warning) or a server that is shutting down fails every stream
//   that has delivered: a JACK server going away drops its clients from a thread of its own.
class StreamFailureTable {
public:
    enum class Placement { Caller, Stream, EveryStream, Nowhere };
    static constexpr std::size_t kSlots = 16;

    // The table RtAudio's error callback reports to; lives as long as the process.
    static StreamFailureTable& shared();

    // The flag is set when an error is placed on the stream; -1 when the table is full.
    int attach(std::atomic<bool>& failedFlag) noexcept;
    void detach(int slot) noexcept;
    // From the stream's callback: errors on this thread are the stream's.
    void noteAudioThread(int slot) noexcept;
    Placement report(bool warning, std::string_view text) noexcept;

    // Marks the calling thread as inside a call of ours on a stream while it lives.
    class CallScope {
    public:
        CallScope() noexcept;
        ~CallScope();
        CallScope(const CallScope&) = delete;
        CallScope& operator=(const CallScope&) = delete;
        static bool active() noexcept;
    };

private:
    struct Slot {
        std::atomic<std::atomic<bool>*> flag{nullptr};
        std::atomic<pthread_t> thread{0};
    };
    std::array<Slot, kSlots> m_slots;
};

} // namespace koru::platform
