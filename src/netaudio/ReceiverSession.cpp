#include "ReceiverSession.h"

#include <algorithm>

namespace koru::netaudio {

namespace {
// A sample-time jump larger than this is a new stream, not a gap to fill with silence.
constexpr std::uint64_t kMaxGapFrames = 1u << 16;
} // namespace

ReceiverSession::ReceiverSession(SpscFrameFifo& fifo, std::string password,
                                 const std::atomic<double>* playRate)
    : mFifo(fifo), mPassword(std::move(password)), mLeft(kMaxFramesPerPacket),
      mRight(kMaxFramesPerPacket), mPlayRate(playRate) {}

bool ReceiverSession::checkRate() {
    if (mPlayRate == nullptr)
        return true;
    const double to = mPlayRate->load(std::memory_order_relaxed);
    if (StreamResampler::canConvert(mFormat.rate, to))
        return true;
    fail("a stream at " + std::to_string(mFormat.rate) + " Hz cannot be played at " +
         std::to_string(to) + " Hz");
    return false;
}

ReceiverSession::State ReceiverSession::fail(std::string reason) {
    mReason = std::move(reason);
    mState = State::Failed;
    return mState;
}

ReceiverSession::State ReceiverSession::feed(const std::uint8_t* data, std::size_t bytes,
                                             QByteArray& reply) {
    if (mState == State::Failed || mState == State::Refused)
        return mState;
    mReader.append(data, bytes);
    while (auto m = mReader.next()) {
        switch (m->type) {
        case MessageType::Ping:
            if (!m->payload.empty())
                return fail("ping with a payload");
            break;
        case MessageType::Hello: {
            if (mState != State::AwaitHello)
                return fail("second hello");
            const auto hello = parseHello(m->payload);
            if (!hello)
                return fail("malformed hello");
            if (hello->version != kProtocolVersion)
                return fail("unsupported version " + std::to_string(hello->version));
            mFormat = hello->format;
            mName = hello->name;
            if (!checkRate())
                return mState;
            reply.append(makeAuth(hello->nonce, mPassword));
            mState = State::AwaitResult;
            break;
        }
        case MessageType::Result: {
            const auto code = parseResult(m->payload);
            if (!code)
                return fail("malformed result");
            // A busy sender answers before it says hello.
            if (mState != State::AwaitResult &&
                !(mState == State::AwaitHello && *code != ResultCode::Ok))
                return fail("result out of order");
            if (*code != ResultCode::Ok) {
                mRefusal = code;
                mReason = "refused by the sender (" + std::to_string(int(*code)) + ")";
                mState = State::Refused;
                return mState;
            }
            mState = State::Streaming;
            break;
        }
        case MessageType::Format: {
            if (mState != State::Streaming)
                return fail("format out of order");
            const auto format = parseFormat(m->payload);
            if (!format)
                return fail("malformed format");
            mFormat = *format;
            if (!checkRate())
                return mState;
            mExpected.reset(); // a new stream: what was buffered belongs to the old one
            mFifo.discardWritten();
            mResamplerStale = true;
            mFormatChanged.store(true, std::memory_order_relaxed);
            break;
        }
        case MessageType::Audio:
            if (mState != State::Streaming)
                return fail("audio before the handshake");
            handleAudio(*m);
            if (mState == State::Failed)
                return mState;
            break;
        case MessageType::Auth:
            return fail("auth sent to a receiver");
        }
    }
    if (mReader.failed())
        return fail(mReader.error());
    return mState;
}

void ReceiverSession::handleAudio(const Message& m) {
    const auto audio = parseAudio(m.payload);
    if (!audio) {
        fail("malformed audio");
        return;
    }
    if (!decode(audio->codec, audio->payload, audio->payloadBytes, audio->frames, mLeft.data(),
                mRight.data())) {
        fail("undecodable audio");
        return;
    }
    if (!mExpected) {
        mFirst.store(audio->sampleTime, std::memory_order_relaxed);
    } else if (audio->sampleTime > *mExpected && audio->sampleTime - *mExpected <= kMaxGapFrames) {
        // Frames the sender lost: silence in their place keeps the rest at its time.
        std::uint64_t gap = audio->sampleTime - *mExpected;
        mGapFrames.fetch_add(gap, std::memory_order_relaxed);
        static const std::vector<float> silence(kMaxFramesPerPacket, 0.0f);
        while (gap > 0) {
            const auto n = std::uint32_t(std::min<std::uint64_t>(gap, kMaxFramesPerPacket));
            write(silence.data(), silence.data(), n);
            gap -= n;
        }
    }
    mExpected = audio->sampleTime + audio->frames;
    write(mLeft.data(), mRight.data(), audio->frames);
}

void ReceiverSession::write(const float* l, const float* r, std::uint32_t frames) {
    if (mPlayRate != nullptr) {
        const double to = mPlayRate->load(std::memory_order_relaxed);
        if (mResamplerStale || to != mResampler.outputRate() ||
            mFormat.rate != mResampler.inputRate()) {
            if (!mResampler.configure(mFormat.rate, to)) {
                if (checkRate())
                    fail("no rate converter");
                return;
            }
            mResamplerStale = false;
        }
        frames = mResampler.process(l, r, frames);
        l = mResampler.left();
        r = mResampler.right();
    }
    const float* ch[2] = {l, r};
    const std::uint32_t n = mFifo.write(ch, frames);
    if (n < frames)
        mDropped.fetch_add(frames - n, std::memory_order_relaxed);
}

} // namespace koru::netaudio
