#include "netaudio/NetStatusListener.h"

#include <QCoreApplication>
#include <QThread>

#include <gtest/gtest.h>

#include <chrono>
#include <thread>
#include <vector>

using namespace koru::netaudio;
using namespace std::chrono_literals;

namespace {

struct ListenerWorld {
    std::chrono::steady_clock::time_point now{};
    std::vector<NetStatus> shown;
    NetStatusListener listener{[this](NetStatus s) { shown.push_back(s); }, [this] { return now; }};
};

// Each step: time passes, then a status arrives (or the timer fires); then the window has seen
// `shown` in all.
TEST(NetStatusListener, AtMostOneReportASecondLeadingAndTrailing) {
    enum Step { Arrive, Timer };
    struct Event {
        Step step;
        std::chrono::milliseconds after;
        NetStatus status;
        std::vector<NetStatus> shown;
    };
    using S = NetStatus;
    struct Case {
        const char* name;
        std::vector<Event> events;
    };
    const Case cases[] = {
        {"the first report goes at once", {{Arrive, 0ms, S::Connecting, {S::Connecting}}}},
        {"reports a second apart all go at once",
         {{Arrive, 0ms, S::Connecting, {S::Connecting}},
          {Arrive, 1000ms, S::Connected, {S::Connecting, S::Connected}},
          {Arrive, 1500ms, S::Underflow, {S::Connecting, S::Connected, S::Underflow}}}},
        {"within the second only the latest goes, when the second is up",
         {{Arrive, 0ms, S::NotConnected, {S::NotConnected}},
          {Arrive, 100ms, S::Connecting, {S::NotConnected}},
          {Arrive, 100ms, S::Connected, {S::NotConnected}},
          {Timer, 500ms, S::Connected, {S::NotConnected}}, // early: still held
          {Timer, 300ms, S::Connected, {S::NotConnected, S::Connected}}}},
        {"a held value equal to the last shown is not shown again",
         {{Arrive, 0ms, S::Connected, {S::Connected}},
          {Arrive, 10ms, S::Underflow, {S::Connected}},
          {Arrive, 10ms, S::Connected, {S::Connected}},
          {Timer, 1000ms, S::Connected, {S::Connected}}}},
        {"after a held value the next waits its second too",
         {{Arrive, 0ms, S::Listening, {S::Listening}},
          {Arrive, 200ms, S::Connecting, {S::Listening}},
          {Timer, 800ms, S::Connecting, {S::Listening, S::Connecting}},
          {Arrive, 100ms, S::Connected, {S::Listening, S::Connecting}},
          {Timer, 900ms, S::Connected, {S::Listening, S::Connecting, S::Connected}}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ListenerWorld world;
        int index = 0;
        for (const Event& e : c.events) {
            SCOPED_TRACE(index++);
            world.now += e.after;
            if (e.step == Arrive)
                world.listener.arrive(e.status);
            else
                world.listener.deliverPending();
            EXPECT_EQ(world.shown, e.shown);
        }
    }
}

TEST(NetStatusListener, TheHeldValueWaitsOnlyTheRestOfTheSecond) {
    ListenerWorld world;
    world.listener.arrive(NetStatus::Connecting);
    EXPECT_EQ(world.listener.pendingDelay(), 1000ms);
    world.now += 300ms;
    world.listener.arrive(NetStatus::Connected);
    EXPECT_EQ(world.listener.pending(), NetStatus::Connected);
    EXPECT_EQ(world.listener.pendingDelay(), 700ms);
}

// Reports from a network thread reach the window on the listener's thread, in order, never on
// the reporting thread.
TEST(NetStatusListener, ReportsFromAnotherThreadArriveOnTheListenersThread) {
    std::chrono::steady_clock::time_point now{};
    std::vector<NetStatus> shown;
    std::vector<bool> onListenerThread;
    NetStatusListener listener(
        [&](NetStatus s) {
            shown.push_back(s);
            onListenerThread.push_back(QThread::currentThread() == listener.thread());
        },
        [&] { return now; });
    std::thread network([&] {
        listener.report(NetStatus::Connecting);
        listener.report(NetStatus::Connected);
    });
    network.join();
    EXPECT_TRUE(shown.empty()) << "nothing is shown before the event loop runs";
    QCoreApplication::processEvents();
    EXPECT_EQ(shown, std::vector<NetStatus>{NetStatus::Connecting});
    now += 1s;
    listener.deliverPending();
    EXPECT_EQ(shown, (std::vector<NetStatus>{NetStatus::Connecting, NetStatus::Connected}));
    EXPECT_EQ(onListenerThread, (std::vector<bool>{true, true}));
}

} // namespace
