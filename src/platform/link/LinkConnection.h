#pragma once

#include "platform/dispatch/SerialQueue.h"
#include "platform/dispatch/TimerClock.h"

#include <QByteArray>
#include <QString>
#include <QVariantMap>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <stop_token>
#include <thread>
#include <vector>

namespace koru::link {

// An error that crossed, or ended, a link call. Sent as a dictionary {domain, code, message}.
struct LinkError {
    QString domain;
    qint64 code = 0;
    QString message;

    QVariantMap toMap() const;
    // None when `value` is not such a dictionary.
    static std::optional<LinkError> fromVariant(const QVariant& value);
};

// What a call gives back: the peer's reply dictionary (empty for "none"), or why there is none.
struct CallResult {
    QVariantMap reply;
    std::optional<LinkError> error;
    bool ok() const { return !error.has_value(); }
};

// One message on the wire: a big-endian u32 byte count, then a binary property list holding a
// dictionary. Counts above kMaxMessageBytes (or 0) are refused on both sides: a peer that sends
// one is not speaking this protocol, and the link is closed rather than trying to resynchronise.
inline constexpr std::uint32_t kMaxMessageBytes = 64u * 1024u * 1024u;

// The frame for `message`, or an empty array when it cannot be stored or is too large.
QByteArray encodeFrame(const QVariantMap& message, QString* error = nullptr);

// Collects bytes from a stream and cuts them into messages.
class FrameDecoder {
public:
    explicit FrameDecoder(std::uint32_t maxBytes = kMaxMessageBytes) : m_maxBytes(maxBytes) {}
    void append(const char* data, std::size_t size) { m_buffer.append(data, qsizetype(size)); }
    // The next whole message; none while incomplete. A bad length or a body that is not a
    // dictionary property list sets failed() for good.
    std::optional<QVariantMap> next();
    bool failed() const { return !m_error.isEmpty(); }
    const QString& error() const { return m_error; }

private:
    std::uint32_t m_maxBytes;
    QByteArray m_buffer;
    QString m_error;
};

// One end of the link between KORU and levelwatch, over a connected stream socket. Calls go both
// ways and are matched to their replies by id. Each end has a receiving thread, a writing thread
// that sends queued frames in the order they were queued (many callers never fight over the
// socket, and a burst goes out in one write), a serial executor that runs the incoming calls one
// at a time, and a timer thread that fails calls whose reply has not come in time. When the peer
// closes (or dies), every waiting call fails at once and `closed` runs once.
//
// Lock order: m_pendingMutex, then nothing; m_outMutex, then nothing.
class LinkConnection {
public:
    // Runs on the executor. Answers the reply dictionary, or none to send no reply: one-way
    // operations send none. An unknown operation should answer an error reply (see errorReply).
    using CallHandler =
        std::function<std::optional<QVariantMap>(const QString& op, const QVariantMap& args)>;
    using Completion = std::function<void(CallResult)>;

    static constexpr std::chrono::milliseconds kDefaultTimeout{5000};

    // Takes ownership of `fd`. Nothing runs until start().
    LinkConnection(int fd, CallHandler handler, std::function<void()> closed,
                   std::chrono::milliseconds timeout = kDefaultTimeout,
                   platform::TimerClock& clock = platform::TimerClock::steady());
    // Closes the socket and joins the threads. Never destroy it from its own callbacks.
    ~LinkConnection();

    LinkConnection(const LinkConnection&) = delete;
    LinkConnection& operator=(const LinkConnection&) = delete;

    void start();

    // Sends a call; `done` runs exactly once: on the receiving thread with the reply, on the
    // timer thread after the timeout, or on the thread that sees the link close. Keep it short.
    void call(const QString& op, const QVariantMap& args, Completion done);
    // The same, waiting for the outcome (never from the executor: a reply could not be served).
    CallResult callAndWait(const QString& op, const QVariantMap& args);
    // A one-way call: no reply is asked for. Returns once the frame is on the socket; false when
    // it could not be sent.
    bool send(const QString& op, const QVariantMap& args);

    // Shuts the socket down: the peer sees end of file, waiting calls fail, frames still queued
    // are dropped.
    void close();
    bool isOpen() const;

    // A reply dictionary that carries an error.
    static QVariantMap errorReply(qint64 code, const QString& message);

private:
    void receiveLoop();
    void timerLoop(std::stop_token stop);
    void handleMessage(const QVariantMap& message);
    // Queues a frame for the writing thread and answers its number (counting from 1); 0 once
    // the link is closed or when the peer has stopped reading and the queue is full.
    std::uint64_t enqueueFrame(QByteArray frame);
    void writeLoop();
    // Refuses new frames, drops the queued ones and ends the writing thread.
    void stopWriting();
    bool writeAll(const QByteArray& bytes);
    void failAll(const LinkError& error);
    void closedByPeer();

    struct Pending {
        Completion done;
        platform::TimerClock::time_point deadline;
    };

    int m_fd;
    CallHandler m_handler;
    std::function<void()> m_closed;
    std::chrono::milliseconds m_timeout;
    platform::TimerClock& m_clock;

    // Frames waiting for the writing thread, oldest first.
    std::mutex m_outMutex;
    std::condition_variable m_outChanged;
    std::vector<QByteArray> m_outQueue;
    std::size_t m_outBytes = 0;
    bool m_outClosed = false;
    std::uint64_t m_outQueued = 0;  // frames ever queued
    std::uint64_t m_outWritten = 0; // frames ever written, in queue order
    std::condition_variable m_outWrittenChanged;

    mutable std::mutex m_pendingMutex;
    std::condition_variable m_pendingChanged;
    std::map<qint64, Pending> m_pending;
    qint64 m_nextId = 1;
    bool m_open = true;
    bool m_closedReported = false;
    std::stop_source* m_timerWake = nullptr; // the timer's current sleep
    // What the timer sleeps until: a new call wakes it only when its deadline comes sooner.
    platform::TimerClock::time_point m_timerTarget = platform::TimerClock::time_point::max();

    std::unique_ptr<platform::SerialQueue> m_executor;
    std::thread m_receiver;
    std::thread m_writer;
    std::jthread m_timer;
};

} // namespace koru::link
