#include "NetReceiveUnit.h"

#include "NetSocket.h"

#include "platform/log/Log.h"

#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <chrono>
#include <cstring>

namespace koru::netaudio {

namespace {
using Clock = std::chrono::steady_clock;
constexpr auto kRetry = std::chrono::milliseconds(1000);
constexpr auto kConnectTimeout = std::chrono::seconds(5);
constexpr auto kPeerSilence = std::chrono::seconds(5);
constexpr auto kPingAfter = std::chrono::seconds(1);
} // namespace

NetReceiveUnit::NetReceiveUnit() = default;

NetReceiveUnit::~NetReceiveUnit() {
    stop();
}

void NetReceiveUnit::setHost(const std::string& host) {
    connect(false);
    {
        std::lock_guard lock(mMutex);
        mHost = host;
    }
    connect(true);
}

void NetReceiveUnit::connectTo(const std::string& address, std::uint16_t port) {
    setHost(address + ":" + std::to_string(port));
}

std::string NetReceiveUnit::host() const {
    std::lock_guard lock(mMutex);
    return mHost;
}

void NetReceiveUnit::setPassword(const std::string& password) {
    std::lock_guard lock(mMutex);
    mPassword = password; // used from the next connection on
}

std::string NetReceiveUnit::lastError() const {
    std::lock_guard lock(mMutex);
    return mLastError;
}

void NetReceiveUnit::connect(bool on) {
    if (on == mOn)
        return;
    mOn = on;
    if (on)
        start();
    else
        stop();
}

void NetReceiveUnit::start() {
    std::string host, password;
    {
        std::lock_guard lock(mMutex);
        host = mHost;
        password = mPassword;
    }
    const auto colon = host.rfind(':');
    const long port =
        colon == std::string::npos ? 0 : std::strtol(host.c_str() + colon + 1, nullptr, 10);
    if (colon == std::string::npos || port < 1 || port > 65535) {
        log::warn("Net receive: no usable host in \"{}\"", host);
        mStatus.set(NetStatus::NotConnected);
        return;
    }
    mStop.store(false);
    mThread = std::thread([this, address = host.substr(0, colon), port, password] {
        run(address, std::uint16_t(port), password);
    });
}

void NetReceiveUnit::stop() {
    if (mThread.joinable()) {
        {
            std::lock_guard lock(mWaitMutex);
            mStop.store(true);
        }
        mWake.notify_all();
        mThread.join();
    }
    mStatus.set(NetStatus::NotConnected);
}

bool NetReceiveUnit::waitOrStop(std::chrono::milliseconds delay) {
    std::unique_lock lock(mWaitMutex);
    return mWake.wait_for(lock, delay, [this] { return mStop.load(); });
}

std::uint64_t NetReceiveUnit::gapFrames() const {
    std::lock_guard lock(mMutex);
    return mSession ? mSession->gapFrames() : 0;
}

std::uint64_t NetReceiveUnit::droppedFrames() const {
    std::lock_guard lock(mMutex);
    return mSession ? mSession->droppedFrames() : 0;
}

std::uint64_t NetReceiveUnit::firstSampleTime() const {
    std::lock_guard lock(mMutex);
    return mSession ? mSession->firstSampleTime() : 0;
}

StreamFormat NetReceiveUnit::streamFormat() const {
    std::lock_guard lock(mMutex);
    return mSession ? mSession->format() : StreamFormat{};
}

std::vector<AudioSourceParameter> NetReceiveUnit::parameterList() const {
    return {{kStatusParameter, "Status", 0.0f, 5.0f}};
}

float NetReceiveUnit::parameter(std::uint32_t id) const {
    return id == kStatusParameter ? float(int(status())) : 0.0f;
}

void NetReceiveUnit::render(float* const* channels, std::uint32_t frames) noexcept {
    if (!mPlaying && mFifo.buffered() >= kPrebufferFrames)
        mPlaying = true;
    std::uint32_t got = 0;
    if (mPlaying)
        got = mFifo.read(channels, frames);
    if (got < frames) {
        for (std::uint32_t c = 0; c < 2; ++c)
            std::fill(channels[c] + got, channels[c] + frames, 0.0f);
        if (mPlaying) {
            // Dry: wait for a fresh pre-buffer rather than stutter frame by frame.
            mPlaying = false;
            mUnderflows.fetch_add(1, std::memory_order_relaxed);
        }
    }
}

void NetReceiveUnit::run(std::string address, std::uint16_t port, std::string password) {
    QByteArray in, out;
    while (!mStop.load()) {
        mStatus.set(NetStatus::Connecting);
        auto session = std::make_unique<ReceiverSession>(mFifo, password, &mEngineRate);
        ReceiverSession* s = session.get();
        {
            std::lock_guard lock(mMutex);
            mSession = std::move(session);
        }
        mFifo.discardWritten();
        Socket sock = startConnect(address, port);
        std::string error = sock.valid() ? "" : "cannot connect to " + address;
        const auto started = Clock::now();
        auto lastHeard = started, lastSent = started;
        bool connected = false;
        std::uint64_t underflowsSeen = mUnderflows.load(), droppedSeen = 0;
        Clock::time_point lastTrouble{};
        NetStatus trouble = NetStatus::Connected;
        out.clear();
        while (sock.valid() && error.empty() && !mStop.load()) {
            pollfd fd{sock.fd(), short(POLLIN | (out.isEmpty() && connected ? 0 : POLLOUT)), 0};
            ::poll(&fd, 1, 5);
            const auto now = Clock::now();
            if (!connected) {
                if (fd.revents & (POLLOUT | POLLERR | POLLHUP)) {
                    int soError = 0;
                    socklen_t len = sizeof soError;
                    ::getsockopt(sock.fd(), SOL_SOCKET, SO_ERROR, &soError, &len);
                    if (soError != 0) {
                        error = std::string("connect: ") + std::strerror(soError);
                        break;
                    }
                    connected = true;
                    lastHeard = now;
                } else if (now - started > kConnectTimeout) {
                    error = "connect timed out";
                    break;
                }
                continue;
            }
            in.clear();
            if (!readSome(sock, in)) {
                error = "connection closed by the sender";
            }
            if (!in.isEmpty()) {
                lastHeard = now;
                ReceiverSession::State state;
                {
                    // The session's format is read by the window under the same lock.
                    std::lock_guard lock(mMutex);
                    state = s->feed(reinterpret_cast<const std::uint8_t*>(in.constData()),
                                    std::size_t(in.size()), out);
                }
                if (state == ReceiverSession::State::Failed ||
                    state == ReceiverSession::State::Refused) {
                    error = s->reason();
                    break;
                }
                if (s->formatChanged())
                    mFormatChanges.fetch_add(1);
            }
            if (!error.empty())
                break;
            if (now - lastHeard > kPeerSilence) {
                error = "sender silent for five seconds";
                break;
            }
            if (s->state() == ReceiverSession::State::Streaming) {
                const std::uint64_t under = mUnderflows.load();
                const std::uint64_t dropped = s->droppedFrames();
                if (under != underflowsSeen || dropped != droppedSeen) {
                    trouble = dropped != droppedSeen ? NetStatus::Overflow : NetStatus::Underflow;
                    underflowsSeen = under;
                    droppedSeen = dropped;
                    lastTrouble = now;
                }
                mStatus.set(now - lastTrouble < std::chrono::seconds(1) ? trouble
                                                                        : NetStatus::Connected);
            }
            if (out.isEmpty() && now - lastSent > kPingAfter)
                out.append(makeMessage(MessageType::Ping));
            if (!out.isEmpty()) {
                if (!flushSome(sock, out)) {
                    error = "send failed";
                    break;
                }
                lastSent = now;
            }
        }
        if (mStop.load())
            break;
        log::warn("Net receive from {}:{}: {}", address, port, error);
        {
            std::lock_guard lock(mMutex);
            mLastError = error;
        }
        if (s->refusal()) {
            // The sender will refuse again: wait for the user.
            mStatus.set(NetStatus::NotConnected);
            return;
        }
        mStatus.set(NetStatus::Connecting);
        if (waitOrStop(kRetry))
            break;
    }
}

} // namespace koru::netaudio
