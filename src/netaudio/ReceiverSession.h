#pragma once

#include "NetAudioProtocol.h"

#include "engine/SpscFrameFifo.h"

#include <QByteArray>

#include <atomic>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace koru::netaudio {

// The receiving end of one connection, free of sockets: bytes in, replies and decoded audio out.
// Whatever arrives is checked before use; anything malformed or out of order ends the session
// with a reason, and the caller closes the connection.
class ReceiverSession {
public:
    enum class State { AwaitHello, AwaitResult, Streaming, Failed, Refused };

    // Decoded audio goes to `fifo` (the connection's network thread is its only producer).
    ReceiverSession(SpscFrameFifo& fifo, std::string password);

    // Feeds received bytes; replies to send are appended to `reply`.
    State feed(const std::uint8_t* data, std::size_t bytes, QByteArray& reply);
    State state() const { return mState; }
    const std::string& reason() const { return mReason; }
    // Set once a sender refused us: a retry would be refused again.
    std::optional<ResultCode> refusal() const { return mRefusal; }
    const StreamFormat& format() const { return mFormat; }
    const std::string& senderName() const { return mName; }

    // Any thread.
    std::uint64_t gapFrames() const { return mGapFrames.load(std::memory_order_relaxed); }
    std::uint64_t droppedFrames() const { return mDropped.load(std::memory_order_relaxed); }
    std::uint64_t firstSampleTime() const { return mFirst.load(std::memory_order_relaxed); }
    bool formatChanged() const { return mFormatChanged.load(std::memory_order_relaxed); }

private:
    State fail(std::string reason);
    void handleAudio(const Message& m);
    void write(const float* l, const float* r, std::uint32_t frames);

    SpscFrameFifo& mFifo;
    std::string mPassword;
    MessageReader mReader;
    State mState = State::AwaitHello;
    std::string mReason;
    std::optional<ResultCode> mRefusal;
    StreamFormat mFormat;
    std::string mName;
    std::optional<std::uint64_t> mExpected;
    std::vector<float> mLeft, mRight;
    std::atomic<std::uint64_t> mGapFrames{0};
    std::atomic<std::uint64_t> mDropped{0};
    std::atomic<std::uint64_t> mFirst{0};
    std::atomic<bool> mFormatChanged{false};
};

} // namespace koru::netaudio
