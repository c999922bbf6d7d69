#include "NetSendUnit.h"

#include "NetSocket.h"
#include "ServiceRegistry.h"

#include "platform/dnssd/ServiceDiscovery.h"
#include "platform/log/Log.h"

#include <poll.h>

#include <chrono>
#include <random>
#include <vector>

namespace koru::netaudio {

namespace {
using Clock = std::chrono::steady_clock;
constexpr auto kPingAfter = std::chrono::seconds(1);
constexpr auto kPeerSilence = std::chrono::seconds(5);
constexpr auto kOverflowShown = std::chrono::seconds(1);
// Past this much unsent data the peer is not keeping up: stop taking frames out of the FIFO.
constexpr int kMaxQueuedBytes = 1 << 18;
} // namespace

NetSendUnit::NetSendUnit(std::string serviceName, std::string bindAddress)
    : mBindAddress(std::move(bindAddress)), mName(std::move(serviceName)) {
    connect(true); // a new sender is offered at once
}

NetSendUnit::~NetSendUnit() {
    stop();
}

void NetSendUnit::push(const float* left, const float* right, std::uint32_t frames) noexcept {
    const std::uint64_t t = mSampleTime.load(std::memory_order_relaxed);
    mSampleTime.store(t + frames, std::memory_order_relaxed);
    if (!mStreaming.load(std::memory_order_acquire))
        return; // nobody listens: the frames go nowhere
    const std::uint32_t session = mSession.load(std::memory_order_acquire);
    if (session != mAudioSession) {
        mAudioSession = session;
        mSessionStart.store(t, std::memory_order_relaxed);
        mSessionStartValid.store(true, std::memory_order_release);
    }
    const float* ch[2] = {left, right};
    const std::uint32_t n = mFifo.write(ch, frames);
    if (n < frames)
        mOverflow.fetch_add(frames - n, std::memory_order_relaxed);
}

void NetSendUnit::connect(bool on) {
    if (on == mOn)
        return;
    mOn = on;
    if (on)
        start();
    else
        stop();
}

void NetSendUnit::start() {
    std::string name;
    std::uint16_t requested;
    std::uint16_t kept;
    {
        std::lock_guard lock(mConfigMutex);
        name = mName;
        requested = mRequestedPort;
        kept = mKeptPort;
    }
    // Bound here rather than on the network thread, so the port is known (and shown) as soon as
    // the sender is offered.
    std::uint16_t bound = 0;
    // Back on the port it had when it can be, else the first free one from the requested port.
    Socket listener = kept != 0 ? listenFrom(mBindAddress, kept, bound, 1) : Socket();
    if (!listener.valid())
        listener = listenFrom(mBindAddress, requested, bound);
    if (!listener.valid()) {
        log::warn("Net send \"{}\" could not listen from port {}", name, requested);
        mStatus.set(NetStatus::NotConnected);
        return;
    }
    mBoundPort.store(bound);
    announce(name, bound);
    mStatus.set(NetStatus::Listening);
    mStop.store(false);
    mThread =
        std::thread([this, socket = std::move(listener)]() mutable { run(std::move(socket)); });
}

void NetSendUnit::announce(const std::string& name, std::uint16_t port) {
    const bool passwordRequired = !password().empty();
    // Gone first: a second announcement under the same name would collide with our own.
    mPublication.reset();
    if (mPublished != 0)
        ServiceRegistry::instance().withdraw(mPublished);
    mPublished = ServiceRegistry::instance().publish(
        name, mBindAddress == "0.0.0.0" ? "127.0.0.1" : mBindAddress, port, passwordRequired);
    mPublication = dnssd::publish(name, kServiceType, port,
                                  {{"txtvers", "1"}, {"pw", passwordRequired ? "1" : "0"}});
}

void NetSendUnit::stop() {
    if (mThread.joinable()) {
        mStop.store(true);
        mThread.join();
    }
    mPublication.reset();
    if (mPublished != 0) {
        ServiceRegistry::instance().withdraw(mPublished);
        mPublished = 0;
    }
    mBoundPort.store(0);
    mStatus.set(NetStatus::NotConnected);
}

void NetSendUnit::setServiceName(const std::string& name) {
    const std::uint16_t before = port();
    connect(false);
    {
        std::lock_guard lock(mConfigMutex);
        mName = name;
        if (before != 0)
            mKeptPort = before;
    }
    connect(true);
}

std::string NetSendUnit::serviceName() const {
    std::lock_guard lock(mConfigMutex);
    return mName;
}

bool NetSendUnit::setPort(std::uint32_t port) {
    if (port < 1 || port > 65535)
        return false;
    connect(false);
    {
        std::lock_guard lock(mConfigMutex);
        mRequestedPort = std::uint16_t(port);
        mKeptPort = 0;
    }
    connect(true);
    return true;
}

void NetSendUnit::setFormatIndex(std::uint32_t index) {
    const std::uint16_t before = port();
    connect(false);
    {
        std::lock_guard lock(mConfigMutex);
        mFormatIndex = index;
        if (before != 0)
            mKeptPort = before;
    }
    if (index != 0 && index != 1 && index != 2 && index != 5 && index != 6)
        log::info("Net send format {} travels as {}-bit PCM", index,
                  codecForFormat(index) == WireCodec::Int24 ? 24 : 16);
    connect(true);
}

std::uint32_t NetSendUnit::formatIndex() const {
    std::lock_guard lock(mConfigMutex);
    return mFormatIndex;
}

void NetSendUnit::setPassword(const std::optional<std::string>& password) {
    if (!password)
        return;
    bool flagChanged = false;
    std::string name;
    {
        std::lock_guard lock(mConfigMutex);
        flagChanged = mPassword.empty() != password->empty();
        mPassword = *password; // checked by each new connection
        name = mName;
    }
    // Receivers decide from the announcement whether to ask for a password: it must follow.
    if (flagChanged && mPublished != 0)
        announce(name, mBoundPort.load());
}

std::string NetSendUnit::password() const {
    std::lock_guard lock(mConfigMutex);
    return mPassword;
}

void NetSendUnit::setSampleRate(double rate) {
    if (rate == mRate.load())
        return;
    mRate.store(rate);
    mRateChanged.store(true);
}

void NetSendUnit::run(Socket listener) {
    std::string name;
    std::uint32_t formatIndex;
    {
        std::lock_guard lock(mConfigMutex);
        name = mName;
        formatIndex = mFormatIndex;
    }
    const WireCodec codec = codecForFormat(formatIndex);

    std::mt19937_64 random{std::random_device{}()};
    Socket peer;
    QByteArray in, out;
    MessageReader reader;
    std::array<std::uint8_t, kNonceBytes> nonce{};
    bool authorised = false;
    Clock::time_point lastSent{}, lastHeard{}, lastOverflow{};
    std::uint64_t overflowSeen = mOverflow.load();
    std::uint64_t framesSent = 0;
    ImaState ima;
    std::vector<float> left(kMaxFramesPerPacket), right(kMaxFramesPerPacket);
    std::vector<std::uint8_t> encoded(encodedBytes(WireCodec::Float32, kMaxFramesPerPacket));

    const auto format = [&] {
        StreamFormat f;
        f.rate = mRate.load();
        f.formatIndex = std::uint16_t(formatIndex);
        f.codec = codec;
        f.maxFrames = 1024;
        return f;
    };
    const auto drop = [&](const char* why) {
        if (why)
            log::warn("Net send \"{}\": receiver dropped: {}", name, why);
        mStreaming.store(false, std::memory_order_release);
        peer.close();
        in.clear();
        out.clear();
        reader = MessageReader();
        authorised = false;
        mStatus.set(NetStatus::Listening);
    };

    while (!mStop.load()) {
        pollfd fds[2] = {{listener.fd(), POLLIN, 0}, {peer.fd(), short(POLLIN), 0}};
        if (peer.valid() && !out.isEmpty())
            fds[1].events |= POLLOUT;
        ::poll(fds, peer.valid() ? 2 : 1, 5);
        const auto now = Clock::now();

        if (fds[0].revents & POLLIN) {
            Socket incoming = acceptFrom(listener);
            if (incoming.valid() && peer.valid()) {
                QByteArray busy = makeResult(ResultCode::Busy);
                flushSome(incoming, busy);
            } else if (incoming.valid()) {
                peer = std::move(incoming);
                for (auto& b : nonce)
                    b = std::uint8_t(random());
                Hello hello;
                hello.authRequired = !password().empty();
                hello.nonce = nonce;
                hello.format = format();
                hello.name = name;
                out.append(makeHello(hello));
                mRateChanged.store(false);
                lastHeard = now;
                mStatus.set(NetStatus::Connecting);
            }
        }
        if (!peer.valid())
            continue;
        if (!readSome(peer, in)) {
            drop(nullptr);
            continue;
        }
        if (!in.isEmpty()) {
            lastHeard = now;
            reader.append(reinterpret_cast<const std::uint8_t*>(in.constData()),
                          std::size_t(in.size()));
            in.clear();
        }
        bool dropped = false;
        while (auto m = reader.next()) {
            if (m->type == MessageType::Ping && m->payload.empty())
                continue;
            if (m->type != MessageType::Auth || authorised) {
                drop("unexpected message");
                dropped = true;
                break;
            }
            if (!authMatches(m->payload, nonce, password())) {
                log::warn("Net send \"{}\": wrong password from a receiver", name);
                QByteArray refuse = makeResult(ResultCode::BadPassword);
                flushSome(peer, refuse);
                drop(nullptr);
                dropped = true;
                break;
            }
            // What waited while nobody listened is stale: start the stream afresh.
            float* ch[2] = {left.data(), right.data()};
            while (mFifo.read(ch, kMaxFramesPerPacket) > 0) {
            }
            mSessionStartValid.store(false);
            mSession.fetch_add(1, std::memory_order_release);
            mStreaming.store(true, std::memory_order_release);
            framesSent = 0;
            overflowSeen = mOverflow.load();
            ima = ImaState();
            authorised = true;
            out.append(makeResult(ResultCode::Ok));
            mStatus.set(NetStatus::Connected);
        }
        if (dropped)
            continue;
        if (reader.failed()) {
            drop(reader.error().c_str());
            continue;
        }
        if (now - lastHeard > kPeerSilence) {
            drop("silent for five seconds");
            continue;
        }
        if (authorised && mRateChanged.exchange(false)) {
            out.append(makeFormat(format()));
            ima = ImaState();
        }
        if (authorised && mSessionStartValid.load(std::memory_order_acquire)) {
            const std::uint64_t overflow = mOverflow.load();
            if (overflow != overflowSeen) {
                framesSent += overflow - overflowSeen; // the receiver fills the hole
                overflowSeen = overflow;
                lastOverflow = now;
            }
            const std::uint32_t unit = codec == WireCodec::Ima4 ? kImaBlockFrames : 1;
            while (out.size() < kMaxQueuedBytes) {
                const auto ready = std::uint32_t(std::min<std::uint64_t>(mFifo.buffered(), 1024));
                const std::uint32_t take = ready / unit * unit;
                if (take == 0)
                    break;
                float* ch[2] = {left.data(), right.data()};
                const std::uint32_t n = mFifo.read(ch, take);
                const std::size_t bytes =
                    encode(codec, left.data(), right.data(), n, encoded.data(), ima);
                out.append(makeAudio(mSessionStart.load() + framesSent, std::uint16_t(n), codec,
                                     encoded.data(), bytes));
                framesSent += n;
            }
            mStatus.set(now - lastOverflow < kOverflowShown && lastOverflow != Clock::time_point{}
                            ? NetStatus::Overflow
                            : NetStatus::Connected);
        }
        if (out.isEmpty() && now - lastSent > kPingAfter)
            out.append(makeMessage(MessageType::Ping));
        if (!out.isEmpty()) {
            if (!flushSome(peer, out)) {
                drop("send failed");
                continue;
            }
            lastSent = now;
        }
    }
    mStreaming.store(false);
}

} // namespace koru::netaudio
