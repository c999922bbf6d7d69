#include "platform/notifications/NotificationCenter.h"

#include "support/TestSupport.h"

#include <QCoreApplication>
#include <QThread>

#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <stdexcept>
#include <thread>
#include <vector>

using koru::platform::Notification;
using koru::platform::NotificationCenter;
using koru::platform::ObserverToken;

namespace {

const QString kName = QStringLiteral("KORUNot.test");

struct Recorder {
    std::vector<Notification> received;
    NotificationCenter::Callback callback() {
        return [this](const Notification& n) { received.push_back(n); };
    }
};

TEST(NotificationCenter, DeliversByNameWithObjectAndUserInfo) {
    NotificationCenter center;
    Recorder wanted;
    Recorder other;
    center.addObserver(kName, nullptr, wanted.callback());
    center.addObserver(QStringLiteral("KORUNot.other"), nullptr, other.callback());

    center.post(kName, nullptr, 48000.0, {{QStringLiteral("channel"), 3}});

    ASSERT_EQ(wanted.received.size(), 1u);
    EXPECT_EQ(wanted.received[0].name, kName);
    EXPECT_EQ(wanted.received[0].object.toDouble(), 48000.0);
    EXPECT_EQ(wanted.received[0].userInfo.value(QStringLiteral("channel")).toInt(), 3);
    EXPECT_TRUE(other.received.empty());
}

TEST(NotificationCenter, FiltersBySender) {
    const int senderA = 0;
    const int senderB = 0;
    struct Case {
        const char* label;
        const void* observed;
        const void* posted;
        bool delivered;
    };
    const Case cases[] = {
        {"any sender, posted by A", nullptr, &senderA, true},
        {"any sender, posted by nobody", nullptr, nullptr, true},
        {"A only, posted by A", &senderA, &senderA, true},
        {"A only, posted by B", &senderA, &senderB, false},
        {"A only, posted by nobody", &senderA, nullptr, false},
    };
    for (const Case& c : cases) {
        NotificationCenter center;
        Recorder recorder;
        center.addObserver(kName, c.observed, recorder.callback());
        center.post(kName, c.posted);
        EXPECT_EQ(recorder.received.size(), c.delivered ? 1u : 0u) << c.label;
    }
}

TEST(NotificationCenter, ObserverRemovedByAnEarlierObserverOfTheSamePostIsNotCalled) {
    NotificationCenter center;
    int laterCalls = 0;
    NotificationCenter::ObserverId later = 0;
    center.addObserver(kName, nullptr, [&](const Notification&) { center.removeObserver(later); });
    later = center.addObserver(kName, nullptr, [&](const Notification&) { ++laterCalls; });

    center.post(kName);
    center.post(kName);

    EXPECT_EQ(laterCalls, 0);
}

TEST(NotificationCenter, ObserverMayRemoveItselfFromItsCallback) {
    NotificationCenter center;
    int calls = 0;
    ObserverToken token;
    token = ObserverToken(center, center.addObserver(kName, nullptr, [&](const Notification&) {
        ++calls;
        token.reset();
    }));

    center.post(kName);
    center.post(kName);

    EXPECT_EQ(calls, 1);
}

TEST(NotificationCenter, RemovalWaitsForACallUnderWayOnAnotherThread) {
    NotificationCenter center;
    std::promise<void> entered;
    std::atomic<bool> removing{false};
    std::atomic<bool> removed{false};
    std::atomic<bool> running{false};
    std::atomic<bool> sawRemovalReturn{false};
    std::atomic<int> calls{0};
    const auto id = center.addObserver(kName, nullptr, [&](const Notification&) {
        ++calls;
        running = true;
        entered.set_value();
        while (!removing)
            std::this_thread::yield();
        // A removal that did not wait would return in the meantime.
        for (int i = 0; i < 20000 && !sawRemovalReturn; ++i) {
            sawRemovalReturn = removed.load();
            std::this_thread::yield();
        }
        running = false;
    });

    std::thread poster([&] { center.post(kName); });
    entered.get_future().wait();
    removing = true;
    center.removeObserver(id);
    removed = true;
    EXPECT_FALSE(running.load()) << "removal returned while the callback ran";
    poster.join();
    EXPECT_FALSE(sawRemovalReturn.load());

    center.post(kName);
    EXPECT_EQ(calls.load(), 1);
}

TEST(NotificationCenter, ObserverAddedDuringAPostHearsTheNextOne) {
    NotificationCenter center;
    Recorder late;
    bool added = false;
    center.addObserver(kName, nullptr, [&](const Notification&) {
        if (!std::exchange(added, true))
            center.addObserver(kName, nullptr, late.callback());
    });

    center.post(kName);
    EXPECT_TRUE(late.received.empty());
    center.post(kName);
    EXPECT_EQ(late.received.size(), 1u);
}

TEST(ObserverToken, RemovesOnDestructionAndMovesOwnership) {
    NotificationCenter center;
    Recorder recorder;
    ObserverToken kept;
    {
        ObserverToken first(center, center.addObserver(kName, nullptr, recorder.callback()));
        kept = std::move(first);
    }
    center.post(kName);
    EXPECT_EQ(recorder.received.size(), 1u) << "the moved-from token removed the observer";

    kept = ObserverToken();
    center.post(kName);
    EXPECT_EQ(recorder.received.size(), 1u) << "replacing the token did not remove the observer";
}

TEST(ObserverToken, ObserveNotificationUsesTheDefaultCenter) {
    int calls = 0;
    {
        const ObserverToken token = koru::platform::observeNotification(
            kName, nullptr, [&](const Notification&) { ++calls; });
        NotificationCenter::defaultCenter().post(kName);
    }
    NotificationCenter::defaultCenter().post(kName);
    EXPECT_EQ(calls, 1);
}

TEST(NotificationCenter, PostOnMainThreadFromAnotherThreadArrivesOnTheMainThread) {
    NotificationCenter center;
    std::atomic<int> calls = 0;
    std::atomic<bool> onMainThread = false;
    center.addObserver(kName, nullptr, [&](const Notification& n) {
        onMainThread = QThread::currentThread() == QCoreApplication::instance()->thread();
        EXPECT_EQ(n.object.toInt(), 7);
        ++calls;
    });

    // The poster outlives the delivery, so nothing but the hand-off itself orders what it wrote
    // before the main thread reads it.
    std::atomic<bool> done = false;
    std::thread poster([&] {
        center.postOnMainThread({kName, nullptr, 7, {}});
        while (!done)
            std::this_thread::yield();
    });
    const bool arrived = koru::test::spinUntil([&] { return calls == 1; });
    done = true;
    poster.join();

    ASSERT_TRUE(arrived);
    EXPECT_TRUE(onMainThread);
}

TEST(NotificationCenter, PostOnMainThreadIsQueuedEvenOnTheMainThread) {
    NotificationCenter center;
    Recorder recorder;
    center.addObserver(kName, nullptr, recorder.callback());

    center.postOnMainThread({kName, nullptr, {}, {}});
    EXPECT_TRUE(recorder.received.empty());

    EXPECT_TRUE(koru::test::spinUntil([&] { return recorder.received.size() == 1; }));
}

TEST(NotificationCenter, ThrowingObserverOnTheMainThreadDoesNotEscapeTheEventLoop) {
    NotificationCenter center;
    bool thrown = false;
    center.addObserver(kName, nullptr, [&](const Notification&) {
        thrown = true;
        throw std::runtime_error("observer failure");
    });

    center.postOnMainThread({kName, nullptr, {}, {}});

    EXPECT_TRUE(koru::test::spinUntil([&] { return thrown; }));
}

} // namespace
