#include "platform/audio/StreamFailureTable.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>

using koru::platform::StreamFailureTable;
using Placement = StreamFailureTable::Placement;

namespace {

// A thread that stays alive for the whole test (a finished thread's ID may be handed to the
// next one) and runs what it is given, one call at a time.
class Worker {
public:
    Worker() : m_thread([this] { loop(); }) {}
    ~Worker() {
        run({});
        m_thread.join();
    }
    void run(std::function<void()> task) {
        std::unique_lock lock(m_mutex);
        const bool quit = !task;
        m_task = std::move(task);
        m_pending = true;
        m_changed.notify_all();
        if (!quit)
            m_changed.wait(lock, [&] { return !m_pending; });
    }

private:
    void loop() {
        for (;;) {
            std::unique_lock lock(m_mutex);
            m_changed.wait(lock, [&] { return m_pending; });
            if (!m_task)
                return;
            m_task();
            m_pending = false;
            m_changed.notify_all();
        }
    }

    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::function<void()> m_task;
    bool m_pending = false;
    std::thread m_thread;
};

} // namespace

// An error belongs to the stream that raised it: stopping an output whose device was unplugged
// complains on the main thread, and that must never fail the input beside it.
TEST(StreamFailureTable, PlacesEachErrorOnTheStreamThatRaisedIt) {
    struct Case {
        const char* label;
        enum class From { InputThread, OutputThread, OwnCallOnMain, Main, ServerThread } from;
        bool warning;
        const char* text;
        Placement placement;
        bool inputFailed;
        bool outputFailed;
    };
    using From = Case::From;
    const Case cases[] = {
        {"the output's read error", From::OutputThread, true, "audio write error",
         Placement::Stream, false, true},
        {"the input's read error", From::InputThread, true, "audio read error", Placement::Stream,
         true, false},
        {"stopping an unplugged output", From::OwnCallOnMain, false, "error stopping stream",
         Placement::Caller, false, false},
        {"a warning elsewhere", From::Main, true, "underrun", Placement::Nowhere, false, false},
        {"the server shutting down", From::ServerThread, true, "server is shutting down",
         Placement::EveryStream, true, true},
    };
    Worker inputThread;
    Worker outputThread;
    Worker serverThread;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        StreamFailureTable table;
        std::atomic<bool> input{false};
        std::atomic<bool> output{false};
        std::atomic<bool> neverDelivered{false};
        const int inputSlot = table.attach(input);
        const int outputSlot = table.attach(output);
        table.attach(neverDelivered);
        inputThread.run([&] { table.noteAudioThread(inputSlot); });
        outputThread.run([&] { table.noteAudioThread(outputSlot); });

        std::optional<Placement> placed;
        const auto report = [&] { placed = table.report(c.warning, c.text); };
        switch (c.from) {
        case From::InputThread:
            inputThread.run(report);
            break;
        case From::OutputThread:
            outputThread.run(report);
            break;
        case From::OwnCallOnMain: {
            const StreamFailureTable::CallScope call;
            report();
            break;
        }
        case From::Main:
            report();
            break;
        case From::ServerThread:
            serverThread.run(report);
            break;
        }
        EXPECT_EQ(placed, c.placement);
        EXPECT_EQ(input.load(), c.inputFailed);
        EXPECT_EQ(output.load(), c.outputFailed);
        EXPECT_FALSE(neverDelivered.load()) << "a stream that never delivered is no server's";
    }
    EXPECT_FALSE(StreamFailureTable::CallScope::active());
}

TEST(StreamFailureTable, ASlotLetGoIsNeverMarkedAgain) {
    StreamFailureTable table;
    std::atomic<bool> gone{false};
    const int slot = table.attach(gone);
    table.noteAudioThread(slot);
    table.detach(slot);
    EXPECT_EQ(table.report(false, "late error"), Placement::Nowhere);
    EXPECT_FALSE(gone.load());
    std::atomic<bool> flags[StreamFailureTable::kSlots + 1];
    int last = 0;
    for (auto& flag : flags)
        last = table.attach(flag);
    EXPECT_EQ(last, -1) << "a full table says so instead of overwriting a slot";
}
