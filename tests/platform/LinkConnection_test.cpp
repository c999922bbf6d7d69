#include "ManualTimerClock.h"

#include "platform/link/LevelwatcherProtocol.h"
#include "platform/link/LinkConnection.h"
#include "platform/plist/PropertyList.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <future>
#include <mutex>
#include <thread>
#include <vector>

#include <sys/socket.h>
#include <unistd.h>

namespace {

using koru::link::CallResult;
using koru::link::FrameDecoder;
using koru::link::LinkConnection;
using koru::test::ManualTimerClock;

// A gate the test opens: handlers that must not answer yet wait on it.
struct Gate {
    std::mutex mutex;
    std::condition_variable changed;
    bool open = false;
    int waiting = 0;
    void wait() {
        std::unique_lock lock(mutex);
        ++waiting;
        changed.notify_all();
        changed.wait(lock, [&] { return open; });
    }
    void waitForWaiter() {
        std::unique_lock lock(mutex);
        changed.wait(lock, [&] { return waiting > 0; });
    }
    void release() {
        std::lock_guard lock(mutex);
        open = true;
        changed.notify_all();
    }
};

// A count of events the test waits for.
struct Counter {
    std::mutex mutex;
    std::condition_variable changed;
    int value = 0;
    void add() {
        std::lock_guard lock(mutex);
        ++value;
        changed.notify_all();
    }
    void waitFor(int wanted) {
        std::unique_lock lock(mutex);
        changed.wait(lock, [&] { return value >= wanted; });
    }
};

std::pair<int, int> socketPair() {
    int fds[2] = {-1, -1};
    EXPECT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds), 0);
    return {fds[0], fds[1]};
}

// Echoes "echo" calls with the side's name, answers "none" with no reply, "oneway" by counting,
// "fail" by throwing, and anything else as an unknown operation.
LinkConnection::CallHandler echoHandler(const QString& side, Counter* oneWay = nullptr) {
    return
        [side, oneWay](const QString& op, const QVariantMap& args) -> std::optional<QVariantMap> {
            if (op == "echo")
                return QVariantMap{{"side", side}, {"args", args}};
            if (op == "none")
                return QVariantMap{};
            if (op == "oneway") {
                if (oneWay)
                    oneWay->add();
                return std::nullopt;
            }
            if (op == "fail")
                throw std::runtime_error("builder broke");
            return LinkConnection::errorReply(koru::link::kErrorUnknownOperation, "unknown " + op);
        };
}

TEST(LinkConnection, CallsGoBothWaysAndRepliesMatchTheirCalls) {
    const auto [a, b] = socketPair();
    LinkConnection koru(a, echoHandler("koru"), {});
    LinkConnection service(b, echoHandler("service"), {});
    koru.start();
    service.start();

    // Many calls in flight at once from both sides: each reply must come to its own caller.
    constexpr int kCalls = 50;
    std::vector<std::future<CallResult>> fromKoru;
    std::vector<std::future<CallResult>> fromService;
    for (int i = 0; i < kCalls; ++i) {
        fromKoru.push_back(std::async(std::launch::async, [&koru, i] {
            return koru.callAndWait("echo", {{"n", i}});
        }));
        fromService.push_back(std::async(std::launch::async, [&service, i] {
            return service.callAndWait("echo", {{"n", i}, {"data", QByteArray(1000, char(i))}});
        }));
    }
    for (int i = 0; i < kCalls; ++i) {
        const CallResult k = fromKoru[i].get();
        ASSERT_TRUE(k.ok()) << k.error->message.toStdString();
        EXPECT_EQ(k.reply.value("side").toString(), "service");
        EXPECT_EQ(k.reply.value("args").toMap().value("n").toLongLong(), i);
        const CallResult s = fromService[i].get();
        ASSERT_TRUE(s.ok());
        EXPECT_EQ(s.reply.value("side").toString(), "koru");
        EXPECT_EQ(s.reply.value("args").toMap().value("data").toByteArray(),
                  QByteArray(1000, char(i)));
    }
}

TEST(LinkConnection, RepliesAndErrorsTable) {
    const auto [a, b] = socketPair();
    Counter oneWay;
    LinkConnection koru(a, {}, {});
    LinkConnection service(b, echoHandler("service", &oneWay), {});
    koru.start();
    service.start();

    struct Case {
        const char* op;
        bool ok;
        qint64 code;
    };
    const Case cases[] = {
        {"none", true, 0},
        {"unknown", false, koru::link::kErrorUnknownOperation},
        {"fail", false, koru::link::kErrorBadArguments},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.op);
        const CallResult result = koru.callAndWait(c.op, {});
        EXPECT_EQ(result.ok(), c.ok);
        if (!c.ok) {
            ASSERT_TRUE(result.error);
            EXPECT_EQ(result.error->domain, "KOLevelwatcher");
            EXPECT_EQ(result.error->code, c.code);
            EXPECT_FALSE(result.error->message.isEmpty());
        } else {
            EXPECT_TRUE(result.reply.isEmpty());
        }
    }
    // One-way calls get no reply, and the link goes on serving after them.
    EXPECT_TRUE(koru.send("oneway", {}));
    EXPECT_TRUE(koru.send("oneway", {}));
    oneWay.waitFor(2);
    EXPECT_TRUE(koru.callAndWait("none", {}).ok());
}

TEST(LinkConnection, ACallWithoutReplyFailsAtItsTimeoutAndALateReplyIsDropped) {
    const auto [a, b] = socketPair();
    ManualTimerClock clock;
    Gate gate;
    LinkConnection koru(a, {}, {}, std::chrono::milliseconds(5000), clock);
    LinkConnection service(
        b,
        [&gate](const QString& op, const QVariantMap&) -> std::optional<QVariantMap> {
            if (op == "slow")
                gate.wait();
            return QVariantMap{{"op", op}};
        },
        {});
    koru.start();
    service.start();

    auto slow = std::async(std::launch::async, [&] { return koru.callAndWait("slow", {}); });
    gate.waitForWaiter();
    // The timer sleeps until exactly five seconds after the call.
    ASSERT_TRUE(clock.waitForSleeper(ManualTimerClock::kStart + std::chrono::seconds(5)));
    clock.advance(std::chrono::milliseconds(4999));
    EXPECT_EQ(slow.wait_for(std::chrono::seconds(0)), std::future_status::timeout);
    clock.advance(std::chrono::milliseconds(1));
    const CallResult result = slow.get();
    ASSERT_FALSE(result.ok());
    EXPECT_EQ(result.error->code, koru::link::kErrorTimedOut);
    EXPECT_EQ(result.error->domain, "KOLevelwatcher");

    // The late reply finds no caller; the next call gets its own reply, not the stale one.
    gate.release();
    const CallResult next = koru.callAndWait("quick", {});
    ASSERT_TRUE(next.ok());
    EXPECT_EQ(next.reply.value("op").toString(), "quick");
}

TEST(LinkConnection, APeerThatGoesAwayFailsEveryWaitingCallAndReportsTheCloseOnce) {
    const auto [a, b] = socketPair();
    Counter closed;
    Gate gate;
    auto koru = std::make_unique<LinkConnection>(a, nullptr, [&closed] { closed.add(); });
    auto service = std::make_unique<LinkConnection>(
        b,
        [&gate](const QString&, const QVariantMap&) -> std::optional<QVariantMap> {
            gate.wait();
            return QVariantMap{};
        },
        nullptr);
    koru->start();
    service->start();

    std::vector<std::future<CallResult>> waiting;
    for (int i = 0; i < 3; ++i)
        waiting.push_back(
            std::async(std::launch::async, [&koru] { return koru->callAndWait("hang", {}); }));
    gate.waitForWaiter();
    // As a crash would: the service's socket closes with calls outstanding.
    ::shutdown(b, SHUT_RDWR);
    for (auto& call : waiting) {
        const CallResult result = call.get();
        ASSERT_FALSE(result.ok());
        EXPECT_EQ(result.error->code, koru::link::kErrorConnectionClosed);
    }
    closed.waitFor(1);
    EXPECT_FALSE(koru->isOpen());
    // Calls after the close fail at once.
    EXPECT_EQ(koru->callAndWait("echo", {}).error->code, koru::link::kErrorConnectionClosed);
    EXPECT_FALSE(koru->send("echo", {}));
    gate.release();
    service.reset();
    koru.reset();
    EXPECT_EQ(closed.value, 1);
}

// A peer that stops reading (hung, or stopped in a debugger) must not block the callers: calls
// queue up to a bound, past it fail at once, time out as usual, and the end can still be closed.
TEST(LinkConnection, APeerThatStopsReadingBlocksNoCaller) {
    const auto [a, b] = socketPair();
    ManualTimerClock clock;
    auto koru = std::make_unique<LinkConnection>(a, nullptr, nullptr,
                                                 std::chrono::milliseconds(5000), clock);
    koru->start();

    constexpr int kMaxCalls = 32;
    std::mutex mutex;
    std::vector<std::optional<CallResult>> results(kMaxCalls);
    Counter finished;
    const QByteArray block(16 * 1024 * 1024, 'x');
    int calls = 0;
    std::optional<CallResult> refused;
    while (calls < kMaxCalls && !refused) {
        const int i = calls++;
        koru->call("big", {{"data", block}}, [&, i](CallResult result) {
            std::lock_guard lock(mutex);
            results[i] = std::move(result);
            finished.add();
        });
        std::lock_guard lock(mutex);
        refused = results[i];
    }
    ASSERT_TRUE(refused) << "the queue took every call";
    EXPECT_EQ(refused->error->code, koru::link::kErrorTimedOut);
    EXPECT_GE(calls, 3);

    // The queued calls end at their timeout like any other.
    ASSERT_TRUE(clock.waitForSleeper(ManualTimerClock::kStart + std::chrono::seconds(5)));
    clock.advance(std::chrono::seconds(5));
    finished.waitFor(calls);
    for (int i = 0; i < calls; ++i) {
        std::lock_guard lock(mutex);
        ASSERT_TRUE(results[i]);
        ASSERT_FALSE(results[i]->ok());
        EXPECT_EQ(results[i]->error->code, koru::link::kErrorTimedOut);
    }
    // Closing does not wait for the stuck peer (the writing thread sits in a full socket).
    koru.reset();
    ::close(b);
}

TEST(LinkConnection, AnAbsurdLengthClosesTheLinkInsteadOfAllocatingIt) {
    const auto [a, b] = socketPair();
    Counter closed;
    LinkConnection koru(a, echoHandler("koru"), [&closed] { closed.add(); });
    koru.start();
    const unsigned char header[] = {0xFF, 0xFF, 0xFF, 0xF0};
    ASSERT_EQ(::write(b, header, sizeof header), ssize_t(sizeof header));
    closed.waitFor(1);
    EXPECT_FALSE(koru.isOpen());
    // KORU's end shut down: the peer reads end of file.
    char byte = 0;
    EXPECT_EQ(::read(b, &byte, 1), 0);
    ::close(b);
}

QByteArray frameOf(const QByteArray& body) {
    const auto n = std::uint32_t(body.size());
    QByteArray frame;
    frame.append(char(n >> 24)).append(char(n >> 16)).append(char(n >> 8)).append(char(n));
    return frame + body;
}

TEST(FrameDecoder, CutsMessagesAndRefusesBadFrames) {
    const QByteArray good = koru::link::encodeFrame({{"kind", "call"}, {"id", 7}});
    ASSERT_FALSE(good.isEmpty());

    // Two messages arriving one byte at a time.
    FrameDecoder trickle;
    int seen = 0;
    for (const char byte : good + good) {
        trickle.append(&byte, 1);
        while (const auto message = trickle.next()) {
            EXPECT_EQ(message->value("id").toLongLong(), 7);
            ++seen;
        }
    }
    EXPECT_EQ(seen, 2);
    EXPECT_FALSE(trickle.failed());

    const QByteArray array = koru::platform::PropertyList::serialize(
        QVariantList{1, 2}, koru::platform::PlistFormat::Binary);
    struct Case {
        const char* what;
        QByteArray bytes;
    };
    const Case bad[] = {
        {"zero length", QByteArray(4, '\0')},
        {"length above the limit", frameOf(QByteArray(100, 'x')).left(4)},
        {"not a property list", frameOf("hello, world")},
        {"an array, not a dictionary", frameOf(array)},
        {"truncated property list", frameOf(good.mid(4, good.size() - 8))},
    };
    for (const Case& c : bad) {
        SCOPED_TRACE(c.what);
        FrameDecoder decoder(std::string_view(c.what) == "length above the limit" ? 99 : 1 << 20);
        decoder.append(c.bytes.constData(), std::size_t(c.bytes.size()));
        EXPECT_FALSE(decoder.next().has_value());
        EXPECT_TRUE(decoder.failed());
        // Failed for good: even a valid frame is not read after it.
        decoder.append(good.constData(), std::size_t(good.size()));
        EXPECT_FALSE(decoder.next().has_value());
    }
}

TEST(LevelwatcherProtocol, RequestedPortKeepsTheLowBitsOfPositiveRequestsOnly) {
    const std::pair<qint64, std::uint16_t> cases[] = {
        {1802465909, 29301}, {8080, 8080}, {65535, 65535}, {65536, 0},
        {70000, 4464},       {0, 0},       {-1, 0},        {-65536 - 80, 0},
    };
    for (const auto& [requested, port] : cases)
        EXPECT_EQ(koru::link::requestedPort(requested), port) << requested;
}

} // namespace
