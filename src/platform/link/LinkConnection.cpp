#include "platform/link/LinkConnection.h"

#include "platform/link/LevelwatcherProtocol.h"
#include "platform/log/Log.h"
#include "platform/plist/PropertyList.h"

#include <cerrno>
#include <utility>

#include <sys/socket.h>
#include <unistd.h>

namespace koru::link {

namespace {

const QString kMessageKindKey = QStringLiteral("kind");
const QString kMessageIdKey = QStringLiteral("id");
const QString kMessageOpKey = QStringLiteral("op");
const QString kMessageArgsKey = QStringLiteral("args");
const QString kMessageReplyKey = QStringLiteral("reply");
const QString kMessageErrorKey = QStringLiteral("error");
const QString kMessageCall = QStringLiteral("call");
const QString kMessageReply = QStringLiteral("reply");

// Once this much waits to be written the peer has stopped reading: new frames are refused (a
// single frame of any allowed size is still taken into an empty queue).
constexpr std::size_t kMaxQueuedBytes = 2u * kMaxMessageBytes;

LinkError linkError(qint64 code, const QString& message) {
    return LinkError{QString::fromLatin1(kErrorDomain), code, message};
}

} // namespace

QVariantMap LinkError::toMap() const {
    return {{QStringLiteral("domain"), domain},
            {QStringLiteral("code"), code},
            {QStringLiteral("message"), message}};
}

std::optional<LinkError> LinkError::fromVariant(const QVariant& value) {
    if (value.typeId() != QMetaType::QVariantMap)
        return std::nullopt;
    const QVariantMap map = value.toMap();
    const QVariant domain = map.value(QStringLiteral("domain"));
    const QVariant code = map.value(QStringLiteral("code"));
    const QVariant message = map.value(QStringLiteral("message"));
    if (domain.typeId() != QMetaType::QString || message.typeId() != QMetaType::QString ||
        (code.typeId() != QMetaType::LongLong && code.typeId() != QMetaType::Int))
        return std::nullopt;
    return LinkError{domain.toString(), code.toLongLong(), message.toString()};
}

QByteArray encodeFrame(const QVariantMap& message, QString* error) {
    QString why;
    const QByteArray body =
        platform::PropertyList::serialize(message, platform::PlistFormat::Binary, &why);
    if (body.isEmpty()) {
        if (error)
            *error = why.isEmpty() ? QStringLiteral("message cannot be stored") : why;
        return {};
    }
    if (quint64(body.size()) > kMaxMessageBytes) {
        if (error)
            *error = QStringLiteral("message of %1 bytes is too large").arg(body.size());
        return {};
    }
    const auto n = std::uint32_t(body.size());
    QByteArray frame;
    frame.reserve(body.size() + 4);
    frame.append(char(n >> 24)).append(char(n >> 16)).append(char(n >> 8)).append(char(n));
    frame.append(body);
    return frame;
}

std::optional<QVariantMap> FrameDecoder::next() {
    if (failed() || m_buffer.size() < 4)
        return std::nullopt;
    const auto* bytes = reinterpret_cast<const unsigned char*>(m_buffer.constData());
    const std::uint32_t n = (std::uint32_t(bytes[0]) << 24) | (std::uint32_t(bytes[1]) << 16) |
                            (std::uint32_t(bytes[2]) << 8) | std::uint32_t(bytes[3]);
    if (n == 0 || n > m_maxBytes) {
        m_error = QStringLiteral("message length %1 is out of range").arg(n);
        return std::nullopt;
    }
    if (quint64(m_buffer.size()) < quint64(n) + 4)
        return std::nullopt;
    const platform::PlistReadResult read = platform::PropertyList::parse(m_buffer.mid(4, n));
    m_buffer.remove(0, qsizetype(n) + 4);
    if (!read.ok() || read.value.typeId() != QMetaType::QVariantMap) {
        m_error = read.ok() ? QStringLiteral("message is not a dictionary") : read.error;
        return std::nullopt;
    }
    return read.value.toMap();
}

LinkConnection::LinkConnection(int fd, CallHandler handler, std::function<void()> closed,
                               std::chrono::milliseconds timeout, platform::TimerClock& clock)
    : m_fd(fd), m_handler(std::move(handler)), m_closed(std::move(closed)), m_timeout(timeout),
      m_clock(clock) {}

LinkConnection::~LinkConnection() {
    close();
    if (m_receiver.joinable())
        m_receiver.join();
    if (m_timer.joinable()) {
        m_timer.request_stop();
        {
            std::lock_guard lock(m_pendingMutex);
            m_pendingChanged.notify_all();
        }
        m_timer.join();
    }
    // Runs what is queued (replies go nowhere now), then joins.
    m_executor.reset();
    if (m_writer.joinable())
        m_writer.join();
    ::close(m_fd);
}

void LinkConnection::start() {
    m_executor = std::make_unique<platform::SerialQueue>("link.calls");
    m_receiver = std::thread([this] { receiveLoop(); });
    m_writer = std::thread([this] { writeLoop(); });
    m_timer = std::jthread([this](std::stop_token stop) { timerLoop(stop); });
}

QVariantMap LinkConnection::errorReply(qint64 code, const QString& message) {
    return {{kMessageErrorKey, linkError(code, message).toMap()}};
}

bool LinkConnection::isOpen() const {
    std::lock_guard lock(m_pendingMutex);
    return m_open;
}

void LinkConnection::call(const QString& op, const QVariantMap& args, Completion done) {
    qint64 id = 0;
    {
        std::lock_guard lock(m_pendingMutex);
        if (!m_open) {
            done(CallResult{
                {}, linkError(kErrorConnectionClosed, QStringLiteral("the link is closed"))});
            return;
        }
        id = m_nextId++;
        const platform::TimerClock::time_point deadline = m_clock.now() + m_timeout;
        m_pending.emplace(id, Pending{std::move(done), deadline});
        // Deadlines mostly come in order: the timer is woken only when this one is sooner
        // than what it sleeps until, not once per call.
        if (deadline < m_timerTarget) {
            if (m_timerWake)
                m_timerWake->request_stop();
            m_pendingChanged.notify_one();
        }
    }
    QString why;
    QByteArray frame = encodeFrame({{kMessageKindKey, kMessageCall},
                                    {kMessageIdKey, id},
                                    {kMessageOpKey, op},
                                    {kMessageArgsKey, args}},
                                   &why);
    const bool encoded = !frame.isEmpty();
    // Moved, not shared: the writing thread owns the bytes alone.
    const bool sent = encoded && enqueueFrame(std::move(frame)) != 0;
    if (sent)
        return;
    Completion failed;
    {
        std::lock_guard lock(m_pendingMutex);
        const auto it = m_pending.find(id);
        if (it == m_pending.end())
            return; // already failed by a close
        failed = std::move(it->second.done);
        m_pending.erase(it);
    }
    // Refused while open: the queue is full because the peer has stopped reading.
    const LinkError error =
        !encoded   ? linkError(kErrorMessageTooLarge, why)
        : isOpen() ? linkError(kErrorTimedOut, QStringLiteral("the peer is not reading"))
                   : linkError(kErrorConnectionClosed, QStringLiteral("the link is closed"));
    failed(CallResult{{}, error});
}

CallResult LinkConnection::callAndWait(const QString& op, const QVariantMap& args) {
    struct Gate {
        std::mutex mutex;
        std::condition_variable done;
        std::optional<CallResult> result;
    };
    auto gate = std::make_shared<Gate>();
    call(op, args, [gate](CallResult result) {
        std::lock_guard lock(gate->mutex);
        gate->result = std::move(result);
        gate->done.notify_all();
    });
    std::unique_lock lock(gate->mutex);
    gate->done.wait(lock, [&] { return gate->result.has_value(); });
    return std::move(*gate->result);
}

bool LinkConnection::send(const QString& op, const QVariantMap& args) {
    if (!isOpen())
        return false;
    QByteArray frame = encodeFrame({{kMessageKindKey, kMessageCall},
                                    {kMessageIdKey, qint64(0)},
                                    {kMessageOpKey, op},
                                    {kMessageArgsKey, args}});
    if (frame.isEmpty())
        return false;
    const std::uint64_t sequence = enqueueFrame(std::move(frame));
    if (sequence == 0)
        return false;
    // Nothing answers a one-way call, so it is done when it is on the socket: waiting for that
    // lets a caller close the link right after (a "stop" before quitting) without losing it.
    std::unique_lock lock(m_outMutex);
    m_outWrittenChanged.wait(lock, [&] { return m_outClosed || m_outWritten >= sequence; });
    return m_outWritten >= sequence;
}

std::uint64_t LinkConnection::enqueueFrame(QByteArray frame) {
    std::uint64_t sequence = 0;
    {
        std::lock_guard lock(m_outMutex);
        if (m_outClosed)
            return 0;
        if (m_outBytes > 0 && m_outBytes + std::size_t(frame.size()) > kMaxQueuedBytes)
            return 0;
        m_outBytes += std::size_t(frame.size());
        m_outQueue.push_back(std::move(frame));
        sequence = ++m_outQueued;
    }
    m_outChanged.notify_one();
    return sequence;
}

bool LinkConnection::writeAll(const QByteArray& bytes) {
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t n =
            ::send(m_fd, bytes.constData() + done, std::size_t(bytes.size() - done), MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += n;
    }
    return true;
}

void LinkConnection::writeLoop() {
    std::vector<QByteArray> batch;
    QByteArray joined;
    std::unique_lock lock(m_outMutex);
    for (;;) {
        m_outChanged.wait(lock, [this] { return m_outClosed || !m_outQueue.empty(); });
        if (m_outClosed)
            return;
        batch.swap(m_outQueue);
        m_outBytes = 0;
        const std::size_t frames = batch.size();
        lock.unlock();
        // One write for the whole burst: a reply per HTTP request would otherwise cost a
        // system call each on both ends.
        joined.clear();
        if (batch.size() == 1) {
            joined = std::move(batch.front());
        } else {
            qsizetype total = 0;
            for (const QByteArray& frame : batch)
                total += frame.size();
            joined.reserve(total);
            for (const QByteArray& frame : batch)
                joined.append(frame);
        }
        batch.clear();
        const bool ok = writeAll(joined);
        lock.lock();
        if (ok) {
            m_outWritten += frames;
            m_outWrittenChanged.notify_all();
        } else {
            // The socket is broken: closing it makes the receiving thread see the end and fail
            // every waiting call at once, instead of each waiting for its timeout.
            m_outClosed = true;
            m_outQueue.clear();
            m_outBytes = 0;
            m_outWrittenChanged.notify_all();
            lock.unlock();
            ::shutdown(m_fd, SHUT_RDWR);
            return;
        }
    }
}

void LinkConnection::close() {
    bool wasOpen = false;
    {
        std::lock_guard lock(m_pendingMutex);
        wasOpen = m_open;
        m_open = false;
        m_closedReported = true; // our own close is no news to us
    }
    stopWriting();
    if (!wasOpen)
        return;
    // Wakes the receiving thread with end of file; the peer sees it too.
    ::shutdown(m_fd, SHUT_RDWR);
    failAll(linkError(kErrorConnectionClosed, QStringLiteral("the link is closed")));
}

void LinkConnection::stopWriting() {
    {
        std::lock_guard lock(m_outMutex);
        // What is still queued goes nowhere: its calls fail with the link, and the peer's
        // calls that these replies answered fail there when it sees the end.
        m_outClosed = true;
        m_outQueue.clear();
        m_outBytes = 0;
    }
    m_outChanged.notify_all();
    m_outWrittenChanged.notify_all();
}

void LinkConnection::failAll(const LinkError& error) {
    std::map<qint64, Pending> failed;
    {
        std::lock_guard lock(m_pendingMutex);
        failed.swap(m_pending);
        m_pendingChanged.notify_all();
    }
    for (auto& [id, pending] : failed)
        pending.done(CallResult{{}, error});
}

void LinkConnection::closedByPeer() {
    bool report = false;
    {
        std::lock_guard lock(m_pendingMutex);
        m_open = false;
        report = !m_closedReported;
        m_closedReported = true;
    }
    stopWriting();
    failAll(linkError(kErrorConnectionClosed, QStringLiteral("the link was closed")));
    if (report && m_closed)
        m_closed();
}

void LinkConnection::receiveLoop() {
    FrameDecoder decoder;
    char buffer[64 * 1024];
    for (;;) {
        const ssize_t n = ::recv(m_fd, buffer, sizeof buffer, 0);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        decoder.append(buffer, std::size_t(n));
        while (std::optional<QVariantMap> message = decoder.next())
            handleMessage(*message);
        if (decoder.failed()) {
            log::error("link: {}; closing it", decoder.error().toStdString());
            ::shutdown(m_fd, SHUT_RDWR);
            break;
        }
    }
    closedByPeer();
}

void LinkConnection::handleMessage(const QVariantMap& message) {
    const QString kind = message.value(kMessageKindKey).toString();
    const QVariant idValue = message.value(kMessageIdKey);
    const qint64 id =
        (idValue.typeId() == QMetaType::LongLong || idValue.typeId() == QMetaType::Int)
            ? idValue.toLongLong()
            : -1;
    if (kind == kMessageReply) {
        Completion done;
        {
            std::lock_guard lock(m_pendingMutex);
            const auto it = m_pending.find(id);
            if (it == m_pending.end())
                return; // late: its call has timed out already
            done = std::move(it->second.done);
            m_pending.erase(it);
        }
        const QVariant reply = message.value(kMessageReplyKey);
        if (message.contains(kMessageErrorKey)) {
            std::optional<LinkError> error =
                LinkError::fromVariant(message.value(kMessageErrorKey));
            done(CallResult{{},
                            error ? *error
                                  : linkError(kErrorBadMessage,
                                              QStringLiteral("unreadable error in a reply"))});
        } else if (reply.isValid() && reply.typeId() != QMetaType::QVariantMap) {
            done(CallResult{{},
                            linkError(kErrorBadMessage, QStringLiteral("reply is not a "
                                                                       "dictionary"))});
        } else {
            done(CallResult{reply.toMap(), std::nullopt});
        }
        return;
    }
    if (kind != kMessageCall || id < 0) {
        log::warn("link: message of unknown kind ignored");
        return;
    }
    const QString op = message.value(kMessageOpKey).toString();
    const QVariant argsValue = message.value(kMessageArgsKey);
    const QVariantMap args = argsValue.toMap();
    const bool argsOk = !argsValue.isValid() || argsValue.typeId() == QMetaType::QVariantMap;
    m_executor->async([this, id, op, args, argsOk] {
        std::optional<QVariantMap> reply;
        if (!argsOk) {
            reply =
                errorReply(kErrorBadArguments, QStringLiteral("arguments are not a dictionary"));
        } else {
            try {
                reply = m_handler ? m_handler(op, args) : std::nullopt;
            } catch (const std::exception& error) {
                log::error("link: operation {} failed: {}", op.toStdString(), error.what());
                reply = errorReply(kErrorBadArguments, QString::fromUtf8(error.what()));
            }
        }
        if (id == 0)
            return; // one-way
        QVariantMap message{{kMessageKindKey, kMessageReply}, {kMessageIdKey, id}};
        if (reply) {
            if (reply->contains(kMessageErrorKey))
                message.insert(kMessageErrorKey, reply->value(kMessageErrorKey));
            else
                message.insert(kMessageReplyKey, *reply);
        }
        QString why;
        QByteArray frame = encodeFrame(message, &why);
        if (frame.isEmpty()) {
            log::error("link: reply to {} cannot be sent: {}", op.toStdString(), why.toStdString());
            frame =
                encodeFrame({{kMessageKindKey, kMessageReply},
                             {kMessageIdKey, id},
                             {kMessageErrorKey, linkError(kErrorMessageTooLarge, why).toMap()}});
        }
        enqueueFrame(std::move(frame));
    });
}

void LinkConnection::timerLoop(std::stop_token stop) {
    std::unique_lock lock(m_pendingMutex);
    while (!stop.stop_requested()) {
        if (m_pending.empty()) {
            m_timerTarget = platform::TimerClock::time_point::max();
            m_pendingChanged.wait(lock,
                                  [&] { return stop.stop_requested() || !m_pending.empty(); });
            m_timerTarget = platform::TimerClock::time_point::min();
            continue;
        }
        platform::TimerClock::time_point earliest = platform::TimerClock::time_point::max();
        for (const auto& [id, pending] : m_pending)
            earliest = std::min(earliest, pending.deadline);
        const platform::TimerClock::time_point now = m_clock.now();
        if (earliest > now) {
            std::stop_source wake;
            std::stop_callback forward(stop, [&wake] { wake.request_stop(); });
            m_timerWake = &wake;
            m_timerTarget = earliest;
            lock.unlock();
            m_clock.sleepUntil(earliest, wake.get_token());
            lock.lock();
            m_timerWake = nullptr;
            // Awake: a call made now is seen on the next pass without a wake.
            m_timerTarget = platform::TimerClock::time_point::min();
            continue;
        }
        std::vector<Completion> expired;
        for (auto it = m_pending.begin(); it != m_pending.end();) {
            if (it->second.deadline <= now) {
                expired.push_back(std::move(it->second.done));
                it = m_pending.erase(it);
            } else {
                ++it;
            }
        }
        lock.unlock();
        for (Completion& done : expired)
            done(CallResult{{}, linkError(kErrorTimedOut, QStringLiteral("no reply in time"))});
        lock.lock();
    }
}

} // namespace koru::link
