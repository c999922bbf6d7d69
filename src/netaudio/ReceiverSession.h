#pragma once

#include "NetAudioProtocol.h"
#include "StreamResampler.h"

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

    // Decoded audio goes to `fifo` (the connection's network thread is its only producer). With
    // `playRate`, the stream is converted to that rate (read at every block, so a change takes
    // effect at once) before it goes in; without, it goes in at the sender's rate.
    ReceiverSession(SpscFrameFifo& fifo, std::string password,
                    const std::atomic<double>* playRate = nullptr);

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
    // Fails the session when the sender's rate cannot be played at ours.
    bool checkRate();
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
    const std::atomic<double>* mPlayRate = nullptr;
    StreamResampler mResampler;
    bool mResamplerStale = true; // a new stream starts: no history of the last one
    std::atomic<std::uint64_t> mGapFrames{0};
    std::atomic<std::uint64_t> mDropped{0};
    std::atomic<std::uint64_t> mFirst{0};
    std::atomic<bool> mFormatChanged{false};
};

} // namespace koru::netaudio
