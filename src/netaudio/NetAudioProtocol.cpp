#include "NetAudioProtocol.h"

#include <QCryptographicHash>
#include <QMessageAuthenticationCode>

#include <cmath>
#include <cstring>

namespace koru::netaudio {

namespace {

constexpr char kMagic[4] = {'K', 'N', 'A', '1'};

void put16(QByteArray& out, std::uint16_t v) {
    out.append(char(v & 0xFF));
    out.append(char(v >> 8));
}
void put32(QByteArray& out, std::uint32_t v) {
    put16(out, std::uint16_t(v));
    put16(out, std::uint16_t(v >> 16));
}
void put64(QByteArray& out, std::uint64_t v) {
    put32(out, std::uint32_t(v));
    put32(out, std::uint32_t(v >> 32));
}

// Reads little-endian fields and remembers whether it ever ran past the end.
class Cursor {
public:
    explicit Cursor(const std::vector<std::uint8_t>& data) : mData(data) {}
    bool ok() const { return mOk; }
    bool atEnd() const { return mPos == mData.size(); }
    std::size_t left() const { return mData.size() - mPos; }
    const std::uint8_t* take(std::size_t n) {
        if (!mOk || left() < n) {
            mOk = false;
            return nullptr;
        }
        const std::uint8_t* p = mData.data() + mPos;
        mPos += n;
        return p;
    }
    std::uint64_t get(std::size_t n) {
        const std::uint8_t* p = take(n);
        std::uint64_t v = 0;
        for (std::size_t i = 0; p && i < n; ++i)
            v |= std::uint64_t(p[i]) << (8 * i);
        return v;
    }

private:
    const std::vector<std::uint8_t>& mData;
    std::size_t mPos = 0;
    bool mOk = true;
};

void putFormat(QByteArray& out, const StreamFormat& f) {
    std::uint64_t bits;
    std::memcpy(&bits, &f.rate, 8);
    put64(out, bits);
    put16(out, f.channels);
    put16(out, f.formatIndex);
    put16(out, std::uint16_t(f.codec));
    put16(out, f.maxFrames);
}

std::optional<StreamFormat> getFormat(Cursor& c) {
    StreamFormat f;
    const std::uint64_t bits = c.get(8);
    std::memcpy(&f.rate, &bits, 8);
    f.channels = std::uint16_t(c.get(2));
    f.formatIndex = std::uint16_t(c.get(2));
    const auto codec = std::uint16_t(c.get(2));
    f.maxFrames = std::uint16_t(c.get(2));
    if (!c.ok() || !std::isfinite(f.rate) || f.rate < 1000.0 || f.rate > 1.0e6 || f.channels != 2 ||
        f.formatIndex >= kFormatCount || !isWireCodec(codec) || f.maxFrames == 0 ||
        f.maxFrames > kMaxFramesPerPacket)
        return std::nullopt;
    f.codec = WireCodec(codec);
    return f;
}

} // namespace

QByteArray makeMessage(MessageType type, const QByteArray& payload) {
    QByteArray out(kMagic, 4);
    out.append(char(type));
    out.append(char(0));
    put16(out, 0);
    put32(out, std::uint32_t(payload.size()));
    out.append(payload);
    return out;
}

QByteArray makeHello(const Hello& h) {
    QByteArray p;
    put16(p, h.version);
    p.append(char(h.authRequired ? 1 : 0));
    p.append(char(0));
    p.append(reinterpret_cast<const char*>(h.nonce.data()), int(h.nonce.size()));
    putFormat(p, h.format);
    const std::string name = h.name.substr(0, 255);
    put16(p, std::uint16_t(name.size()));
    p.append(name.data(), int(name.size()));
    return makeMessage(MessageType::Hello, p);
}

QByteArray makeAuth(const std::array<std::uint8_t, kNonceBytes>& nonce,
                    const std::string& password) {
    const auto d = authDigest(nonce, password);
    return makeMessage(MessageType::Auth,
                       QByteArray(reinterpret_cast<const char*>(d.data()), int(d.size())));
}

QByteArray makeResult(ResultCode code) {
    QByteArray p;
    put16(p, std::uint16_t(code));
    return makeMessage(MessageType::Result, p);
}

QByteArray makeFormat(const StreamFormat& format) {
    QByteArray p;
    putFormat(p, format);
    return makeMessage(MessageType::Format, p);
}

QByteArray makeAudio(std::uint64_t sampleTime, std::uint16_t frames, WireCodec codec,
                     const std::uint8_t* encoded, std::size_t bytes) {
    QByteArray p;
    p.reserve(int(12 + bytes));
    put64(p, sampleTime);
    put16(p, frames);
    put16(p, std::uint16_t(codec));
    p.append(reinterpret_cast<const char*>(encoded), int(bytes));
    return makeMessage(MessageType::Audio, p);
}

std::optional<Hello> parseHello(const std::vector<std::uint8_t>& payload) {
    Cursor c(payload);
    Hello h;
    h.version = std::uint16_t(c.get(2));
    const auto auth = c.get(1);
    c.get(1);
    if (const std::uint8_t* n = c.take(kNonceBytes))
        std::memcpy(h.nonce.data(), n, kNonceBytes);
    auto format = getFormat(c);
    const auto nameLength = std::size_t(c.get(2));
    const std::uint8_t* name = c.take(nameLength);
    if (!c.ok() || !c.atEnd() || auth > 1 || !format)
        return std::nullopt;
    h.authRequired = auth == 1;
    h.format = *format;
    h.name.assign(reinterpret_cast<const char*>(name), nameLength);
    return h;
}

std::optional<StreamFormat> parseFormat(const std::vector<std::uint8_t>& payload) {
    Cursor c(payload);
    auto format = getFormat(c);
    if (!c.atEnd())
        return std::nullopt;
    return format;
}

std::optional<ResultCode> parseResult(const std::vector<std::uint8_t>& payload) {
    Cursor c(payload);
    const auto code = c.get(2);
    if (!c.ok() || !c.atEnd() || code > 3)
        return std::nullopt;
    return ResultCode(code);
}

std::optional<AudioHeader> parseAudio(const std::vector<std::uint8_t>& payload) {
    Cursor c(payload);
    AudioHeader a;
    a.sampleTime = c.get(8);
    a.frames = std::uint16_t(c.get(2));
    const auto codec = std::uint16_t(c.get(2));
    if (!c.ok() || a.frames == 0 || a.frames > kMaxFramesPerPacket || !isWireCodec(codec))
        return std::nullopt;
    a.codec = WireCodec(codec);
    a.payloadBytes = c.left();
    a.payload = c.take(a.payloadBytes);
    if (a.payloadBytes != encodedBytes(a.codec, a.frames) ||
        (a.codec == WireCodec::Ima4 && a.frames % kImaBlockFrames != 0))
        return std::nullopt;
    return a;
}

std::array<std::uint8_t, kAuthBytes> authDigest(const std::array<std::uint8_t, kNonceBytes>& nonce,
                                                const std::string& password) {
    QMessageAuthenticationCode mac(QCryptographicHash::Sha256,
                                   QByteArray(password.data(), int(password.size())));
    mac.addData(reinterpret_cast<const char*>(nonce.data()), int(nonce.size()));
    mac.addData("KNA1-auth", 9);
    const QByteArray r = mac.result();
    std::array<std::uint8_t, kAuthBytes> out{};
    std::memcpy(out.data(), r.constData(), out.size());
    return out;
}

bool authMatches(const std::vector<std::uint8_t>& payload,
                 const std::array<std::uint8_t, kNonceBytes>& nonce, const std::string& password) {
    if (payload.size() != kAuthBytes)
        return false;
    const auto expected = authDigest(nonce, password);
    std::uint8_t diff = 0;
    for (std::size_t i = 0; i < kAuthBytes; ++i)
        diff |= std::uint8_t(payload[i] ^ expected[i]);
    return diff == 0;
}

void MessageReader::append(const std::uint8_t* data, std::size_t bytes) {
    if (!failed())
        mBuffer.insert(mBuffer.end(), data, data + bytes);
}

std::optional<Message> MessageReader::next() {
    if (failed() || mBuffer.size() < kHeaderBytes)
        return std::nullopt;
    if (std::memcmp(mBuffer.data(), kMagic, 4) != 0) {
        mError = "bad magic";
        return std::nullopt;
    }
    const std::uint8_t type = mBuffer[4];
    if (type < 1 || type > 6) {
        mError = "unknown message type " + std::to_string(type);
        return std::nullopt;
    }
    const std::uint32_t length = std::uint32_t(mBuffer[8]) | (std::uint32_t(mBuffer[9]) << 8) |
                                 (std::uint32_t(mBuffer[10]) << 16) |
                                 (std::uint32_t(mBuffer[11]) << 24);
    if (length > kMaxPayload) {
        mError = "payload of " + std::to_string(length) + " bytes";
        return std::nullopt;
    }
    if (mBuffer.size() < kHeaderBytes + length)
        return std::nullopt;
    Message m{MessageType(type),
              std::vector<std::uint8_t>(mBuffer.begin() + kHeaderBytes,
                                        mBuffer.begin() + kHeaderBytes + length)};
    mBuffer.erase(mBuffer.begin(), mBuffer.begin() + kHeaderBytes + length);
    return m;
}

} // namespace koru::netaudio
